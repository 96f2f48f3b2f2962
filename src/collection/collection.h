#pragma once
// The audio files of one build run, in the order the folder scan met them.
// A record's position is its id for the rest of the run, so records are only
// ever appended, and removed all at once by Clear.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/audio_info.h"

class TMP3Collection;

// Raised by the scan with the collection, a path and the shared cancel flag;
// setting cancel to true stops the scan.
using TScanEvent = std::function<void(TMP3Collection& sender, const std::string& path, bool& cancel)>;

class TMP3Collection {
public:
    // Starts empty, with capacity 0.
    TMP3Collection();
    ~TMP3Collection();
    TMP3Collection(const TMP3Collection&) = delete;
    TMP3Collection& operator=(const TMP3Collection&) = delete;

    // Frees the records, last first; Count and capacity become 0.
    void Clear();

    // Scans one folder tree depth-first (or a single file) and appends the
    // audio files found. An empty folder scans every mounted local and network
    // file system. onFolder is raised when the scan of a folder or of a path
    // given directly begins; onProgress after each listed entry, including
    // "." and "..", and once for a path that names a file. Either may be empty.
    // Symbolic links to folders are not entered, so link loops cannot hang the
    // scan; devices, sockets and fifos are not listed; kernel file systems
    // such as /proc and /sys are listed but not entered.
    // With more than one reader, folders are listed a bounded number of files
    // ahead and, while reads wait on the device, files are read on threads of
    // the scan's own; records, problems and events stay in the order above,
    // raised on the calling thread, with Count() at each event as if read one
    // by one. No thread outlives Scan, whether it ends, is cancelled or an
    // event raises.
    void Scan(const std::string& folder, const TScanEvent& onFolder, const TScanEvent& onProgress);

    // Files read at once by a scan. A read costs the device's latency (a
    // seek, a network round trip) far more than processor time, so the same
    // number suits any machine: enough to fill a disk's or a server's queue.
    static constexpr int kDefaultReaders = 16;
    int Readers() const { return readers_; }
    // 1 (or less) reads each file in turn on the calling thread.
    void SetReaders(int readers) { readers_ = readers < 1 ? 1 : readers; }
    // The readers start once reads wait on the device; eager ones take
    // every file from the start, even from memory (tests, benchmarks).
    void SetEagerReaders(bool eager) { eagerReaders_ = eager; }

    int Count() const { return count_; }
    // Raises EListError outside 0 .. Count() - 1.
    TAudioInformer& Items(int index) const;
    // Allocated slots; grows by 1000 when an addition finds it used up.
    int Capacity() const { return static_cast<int>(items_.size()); }

    // Carried settings: kept for the configuration, read by nothing else.
    std::int32_t ArtistBound() const { return artistBound_; }
    void SetArtistBound(std::int32_t value) { artistBound_ = value; }
    std::int32_t TitleBound() const { return titleBound_; }
    void SetTitleBound(std::int32_t value) { titleBound_ = value; }
    std::uint8_t Combine() const { return combine_; }
    // Keeps the low 8 bits.
    void SetCombine(long long value) { combine_ = static_cast<std::uint8_t>(value & 0xFF); }

    // Reads the file into a new record at position Count. A file that cannot
    // be opened is left out and listed in Problems; one whose reading raises
    // (damaged) is left out silently. True when it was added.
    bool AddFile(const std::string& path);

    // Files and folders the scan met but could not read, in scan order.
    struct TProblem {
        std::string Path;
        std::string Reason;
    };
    const std::vector<TProblem>& Problems() const { return problems_; }

    // The mount points that an empty folder scans, in /proc/self/mounts order:
    // local disk and network file systems, without pseudo, removable or
    // read-only media file systems.
    static std::vector<std::string> ScanRoots();

private:
    struct TFolderLook;
    struct TTrackRead;
    class TReadAhead;

    void ScanFolder(std::string path);
    // Looks at a path given or entered: a file, or the folder's listing with
    // the entries classified.
    static TFolderLook LookAt(const std::string& path, const std::optional<dev_t>& rootDevice,
                              const std::vector<dev_t>& pseudoDevices);
    // Reads one file as AddFile does, without touching the collection.
    static TTrackRead ReadTrack(const std::string& path);
    // The listing of path: the read-ahead's when it has it, else taken now.
    std::shared_ptr<const TFolderLook> TakeLook(const std::string& path);
    // Adds the file at path: the read-ahead's reading when it has it.
    void AddListedFile(const std::string& path);
    // Appends what reading one file gave, as AddFile does.
    bool Append(TTrackRead read);

    std::vector<std::unique_ptr<TAudioInformer>> items_;  // size is the capacity
    std::int32_t count_ = 0;
    std::int32_t artistBound_ = 0;
    std::int32_t titleBound_ = 0;
    std::uint8_t combine_ = 3;
    std::vector<TProblem> problems_;

    // State of the running scan.
    bool cancel_ = false;
    const TScanEvent* onFolder_ = nullptr;
    const TScanEvent* onProgress_ = nullptr;
    // Set while scanning all file systems: folders on other devices are left
    // to their own root.
    std::optional<dev_t> rootDevice_;
    // Mounted kernel file systems (/proc, /sys, ...): listed, never entered.
    std::vector<dev_t> pseudoDevices_;
    int readers_ = kDefaultReaders;
    bool eagerReaders_ = false;
    // Lists and reads ahead of the running scan; null when reading in turn.
    std::unique_ptr<TReadAhead> readAhead_;
};
