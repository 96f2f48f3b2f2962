// The zip reader: central directory, name forms, selection and extraction to memory.
#include <sstream>

#include "base/zip_reader.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TMemInput input;
    TKAZip zip;
    try {
        zip.Open(input.Put(AsText(data, size)));
    } catch (const EZipError&) {
        return 0;
    }
    for (const TKAZipEntriesEntry& e : zip.Entries()) {
        e.ArchiveName();
        e.IsFolder();
        e.IsReadOnly();
        IsSafeRelativePath(e.FolderFileName());
        zip.IndexOf(e.FileName);
        try {
            zip.ExtractToString(e);
        } catch (const EZipError&) {
            // Encrypted entries and unknown methods.
        }
    }
    zip.SelectMatching("*.htm*");
    zip.Close();
    return 0;
}
