#include "report/error_history.h"

#include <mutex>
#include <random>

#include "base/exe_dir.h"
#include "report/error_report.h"
#include "services/configer.h"
#include "base/product.h"

const std::string kProductVersionText = std::string(kApplicationTitle) + "  Ver." + kProgramVersion;

namespace {

std::string& HistoryOverride() {
    static std::string fileName;
    return fileName;
}

}  // namespace

std::string ErrorHistoryFileName() {
    if (!HistoryOverride().empty()) return HistoryOverride();
    std::string folder = ExtractFileDir(ConfigFileName());
    if (folder.empty()) folder = ExeDir();
    return JoinPath(folder, "error.history");
}

void SetErrorHistoryFileName(const std::string& fileName) { HistoryOverride() = fileName; }

std::string HistoryMemberName(const std::string& dateText, const std::string& timeText, int number) {
    return HexEncode(Md5Digest(dateText + timeText + std::to_string(number)));
}

std::string NewHistoryMemberName(std::time_t now) {
    static std::mutex guard;
    static std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> pick(0, 999);
    int number;
    {
        std::lock_guard<std::mutex> lock(guard);
        number = pick(generator);
    }
    return HistoryMemberName(ReportDateText(now), ReportTimeText(now), number);
}

std::string HistoryMemberText(const std::string& messageText, const TStringList& detailLines) {
    std::string text = std::string(kProductVersionText) + "\r\n\r\n";
    TStringList messageLines;
    SplitToList(messageText, "\r\n", messageLines);
    for (const std::string& line : messageLines) text += line + "\r\n";
    text += "\r\n\r\n";
    for (const std::string& line : detailLines) text += line + "\r\n";
    return text;
}

std::string AddToHistory(const std::string& messageText, const TStringList& detailLines) {
    std::string archive = ErrorHistoryFileName();
    std::string name = NewHistoryMemberName(std::time(nullptr));
    // The configuration folder may not have been written yet.
    ForceFolders("", archive, true);
    ZipBuffer(archive, name, HistoryMemberText(messageText, detailLines));
    return name;
}
