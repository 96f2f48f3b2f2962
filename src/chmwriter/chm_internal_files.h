#pragma once
// The internal files of a compiled help file that describe its topics and
// settings: #STRINGS, #TOPICS, #URLTBL, #URLSTR, #SYSTEM, #WINDOWS, #IDXHDR.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "chmwriter/chm_bytes.h"
#include "chmwriter/chm_project.h"

// #STRINGS: zero-terminated strings, each at most once, none crossing a
// 4096 byte block; offset 0 is the empty string.
class TChmStrings {
public:
    TChmStrings() : bytes_(1, 0) {}
    std::uint32_t Add(std::string_view text);
    const TBytes& Bytes() const { return bytes_; }

private:
    TBytes bytes_;
    std::map<std::string, std::uint32_t, std::less<>> offsets_;
};

struct TChmTopic {
    std::string Address;  // "page.html", no leading "/"
    std::string Title;    // already in the file's code page; empty for none
    bool InContents = false;
};

struct TChmTopicFiles {
    TBytes Topics;  // #TOPICS
    TBytes UrlTbl;  // #URLTBL
    TBytes UrlStr;  // #URLSTR
};
TChmTopicFiles BuildTopicFiles(const std::vector<TChmTopic>& topics, TChmStrings& strings);

// What #SYSTEM says beyond the project's own options.
struct TChmSystemInfo {
    std::uint32_t Timestamp = 0;  // seconds since 1970
    std::string CompiledName;     // lower-case stem of the output file
    std::string Title;            // in the file's code page
    bool DoubleByteCodePage = false;
    TBytes IdxHdr;                // copied into code 13
    bool FullTextSearch = false;  // the file holds $FIftiMain
    bool KeywordLinks = false;    // the file holds $WWKeywordLinks
};
TBytes BuildSystemFile(const TChmProject& project, const TChmSystemInfo& info);

// #WINDOWS with the strings it names added to strings; titles are encoded
// through encodeText. Empty when the project defines no window.
TBytes BuildWindowsFile(const std::vector<TChmWindowDefinition>& windows, TChmStrings& strings,
                        const std::function<std::string(std::string_view)>& encodeText);

TBytes BuildIdxHdrFile(std::uint32_t topicCount);
