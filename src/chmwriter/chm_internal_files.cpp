// Builds the topic and settings tables of a compiled help file.
#include "chmwriter/chm_internal_files.h"

#include <stdexcept>

namespace {

constexpr std::size_t kBlockSize = 0x1000;
constexpr std::size_t kUrlTblEntriesPerBlock = kBlockSize / 12;  // 341, the last 4 bytes stay empty
constexpr std::uint32_t kWindowEntrySize = 0x196;                // the 1.1 form of the window structure

// Pads with zeros so that an item of the given size does not cross a block.
void KeepInBlock(TBytes& bytes, std::size_t size) {
    const std::size_t used = bytes.size() % kBlockSize;
    if (size <= kBlockSize && used + size > kBlockSize) bytes.insert(bytes.end(), kBlockSize - used, 0);
}

void SystemEntry(TByteWriter& w, std::uint16_t code, std::span<const std::uint8_t> data) {
    if (data.size() > 0xFFFF) throw std::length_error("#SYSTEM entry " + std::to_string(code) + " too long");
    w.U16(code);
    w.U16(static_cast<std::uint16_t>(data.size()));
    w.Raw(data);
}

void SystemText(TByteWriter& w, std::uint16_t code, std::string_view text) {
    TBytes data(text.begin(), text.end());
    data.push_back(0);
    SystemEntry(w, code, data);
}

}  // namespace

std::uint32_t TChmStrings::Add(std::string_view text) {
    if (text.empty()) return 0;
    if (auto it = offsets_.find(text); it != offsets_.end()) return it->second;
    KeepInBlock(bytes_, text.size() + 1);
    const auto offset = static_cast<std::uint32_t>(bytes_.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.push_back(0);
    offsets_.emplace(std::string(text), offset);
    return offset;
}

TChmTopicFiles BuildTopicFiles(const std::vector<TChmTopic>& topics, TChmStrings& strings) {
    TChmTopicFiles files;
    TByteWriter topicsOut(files.Topics);
    TByteWriter tblOut(files.UrlTbl);
    TByteWriter strOut(files.UrlStr);
    strOut.U8(0);
    for (std::size_t i = 0; i < topics.size(); ++i) {
        const TChmTopic& topic = topics[i];
        // #URLSTR: no frame URL, no frame name, then the address.
        KeepInBlock(files.UrlStr, 8 + topic.Address.size() + 1);
        const auto urlStrOffset = static_cast<std::uint32_t>(files.UrlStr.size());
        strOut.U32(0);
        strOut.U32(0);
        strOut.TextZ(topic.Address);

        if (i > 0 && i % kUrlTblEntriesPerBlock == 0) tblOut.Zeros(kBlockSize - kUrlTblEntriesPerBlock * 12);
        const auto urlTblOffset = static_cast<std::uint32_t>(files.UrlTbl.size());
        tblOut.U32(0);
        tblOut.U32(static_cast<std::uint32_t>(i));
        tblOut.U32(urlStrOffset);

        topicsOut.U32(0);  // no binary contents, so no #TOCIDX entry
        topicsOut.U32(topic.Title.empty() ? 0xFFFFFFFF : strings.Add(topic.Title));
        topicsOut.U32(urlTblOffset);
        topicsOut.U16(topic.InContents ? 6 : 2);
        topicsOut.U16(0);
    }
    return files;
}

TBytes BuildSystemFile(const TChmProject& project, const TChmSystemInfo& info) {
    TBytes bytes;
    TByteWriter w(bytes);
    w.U32(3);

    TBytes data;
    TByteWriter d(data);
    d.U32(info.Timestamp);
    SystemEntry(w, 10, data);

    SystemText(w, 9, "HHA Version 4.74.8702");

    data.clear();
    d.U32(project.LanguageId);
    d.U32(info.DoubleByteCodePage ? 1 : 0);
    d.U32(info.FullTextSearch ? 1 : 0);
    d.U32(info.KeywordLinks ? 1 : 0);
    d.U32(0);  // no binary associative index
    // FILETIME: 100 ns steps since 1601.
    d.U64((static_cast<std::uint64_t>(info.Timestamp) + 11644473600ull) * 10000000ull);
    d.U32(0);
    d.U32(0);
    SystemEntry(w, 4, data);

    if (!project.DefaultTopic.empty()) SystemText(w, 2, project.DefaultTopic);
    if (!info.Title.empty()) SystemText(w, 3, info.Title);
    if (!project.DefaultFont.empty()) SystemText(w, 16, project.DefaultFont);
    if (!info.CompiledName.empty()) SystemText(w, 6, info.CompiledName);
    if (!project.ContentsFile.empty()) SystemText(w, 0, project.ContentsFile);
    if (!project.IndexFile.empty()) SystemText(w, 1, project.IndexFile);
    if (!project.DefaultWindow.empty()) SystemText(w, 5, project.DefaultWindow);
    if (!info.IdxHdr.empty()) SystemEntry(w, 13, info.IdxHdr);
    return bytes;
}

TBytes BuildWindowsFile(const std::vector<TChmWindowDefinition>& windows, TChmStrings& strings,
                        const std::function<std::string(std::string_view)>& encodeText) {
    if (windows.empty()) return {};
    using W = TChmWindowDefinition;
    TBytes bytes;
    TByteWriter w(bytes);
    w.U32(static_cast<std::uint32_t>(windows.size()));
    w.U32(kWindowEntrySize);
    for (const W& window : windows) {
        const std::size_t base = bytes.size();
        w.Zeros(kWindowEntrySize);
        std::uint32_t valid = 0;
        auto text = [&](std::size_t at, W::TField field, bool isTitle) {
            if (const std::string* t = window.Text(field))
                w.PutU32At(base + at, strings.Add(isTitle ? encodeText(*t) : *t));
        };
        auto number = [&](std::size_t at, W::TField field, std::uint32_t flag) {
            if (auto n = window.Number(field)) {
                w.PutU32At(base + at, *n);
                valid |= flag;
            }
        };
        w.PutU32At(base + 0x00, kWindowEntrySize);
        w.PutU32At(base + 0x08, strings.Add(window.Name));
        number(0x10, W::fNavigationStyle, 0x2);
        text(0x14, W::fTitle, true);
        number(0x18, W::fStyle, 0x4);
        number(0x1C, W::fExtendedStyle, 0x8);
        if (window.Position) {
            for (int k = 0; k < 4; ++k)
                w.PutU32At(base + 0x20 + 4 * k, static_cast<std::uint32_t>((*window.Position)[k]));
            valid |= 0x10;
        }
        number(0x30, W::fShowState, 0x40);
        number(0x4C, W::fNavigationWidth, 0x20);
        text(0x60, W::fContents, false);
        text(0x64, W::fIndex, false);
        text(0x68, W::fDefaultFile, false);
        text(0x6C, W::fHomeFile, false);
        number(0x70, W::fButtons, 0x100);
        number(0x74, W::fNavigationClosed, 0x200);
        number(0x78, W::fDefaultPane, 0x2000);
        number(0x7C, W::fNavigationPosition, 0x400);
        number(0x80, W::fIdNotify, 0);
        text(0x9C, W::fJump1Text, true);
        text(0xA0, W::fJump2Text, true);
        text(0xA4, W::fJump1Url, false);
        text(0xA8, W::fJump2Url, false);
        w.PutU32At(base + 0x0C, valid);
    }
    return bytes;
}

TBytes BuildIdxHdrFile(std::uint32_t topicCount) {
    TBytes bytes;
    TByteWriter w(bytes);
    w.Text("T#SM");
    w.U32(1);
    w.U32(1);
    w.U32(topicCount);
    w.Zeros(kBlockSize - bytes.size());
    return bytes;
}
