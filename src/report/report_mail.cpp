#include "report/report_mail.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "report/error_history.h"
#include "report/quick_mail.h"
#include "base/language.h"

std::string SupportMailtoUrl() { return std::string("mailto:") + kSupportAddress; }

namespace {

// A copy of the archive in a fresh private folder, under the archive's own
// name so the attachment keeps it.
std::string SnapshotForMail(const std::string& archive) {
    if (!FileExists(archive)) throw EOSError("The file \"" + archive + "\" does not exist.");
    std::string content = LoadTextFile(archive);
    if (content.empty()) throw EOSError("Cannot read \"" + archive + "\".");
    std::string folder = JoinPath(GetTempFolder(), "orvalis-mail-XXXXXX");
    if (!::mkdtemp(folder.data()))
        throw EOSError("Cannot create a folder for the mail: " + std::string(std::strerror(errno)));
    std::string copy = JoinPath(folder, ExtractFileName(archive));
    try {
        SaveTextFile(content, copy);
    } catch (...) {
        DeleteTree(folder, false);
        throw;
    }
    return copy;
}

}  // namespace

void SendErrorHistory(TAFQuickMail& mail) {
    std::string archive = ErrorHistoryFileName();
    mail.ToEmail = {kSupportAddress};
    mail.Subject = std::string("Bug report: ") + kProductVersionText;
    const std::string snapshot = SnapshotForMail(archive);
    mail.FileNames = {snapshot};
    mail.TextToSend.clear();
    try {
        mail.Send();
    } catch (...) {
        // No mail program took the copy; the archive itself stays for sending by hand.
        DeleteTree(ExtractFileDir(snapshot), false);
        throw;
    }
    if (std::remove(archive.c_str()) != 0 && errno != ENOENT)
        throw EOSError("Cannot delete \"" + archive + "\": " + std::strerror(errno));
}

void SendErrorHistory() {
    TAFQuickMail mail;
    SendErrorHistory(mail);
}

std::string ManualSendingMessage() {
    // The file is not beside the program on this system, so say where it is.
    return Translate("Cannot send the message automatically") + ". \r\n" +
           Translate("Please send the file \"error.history\" to the authors") + " (" + kSupportAddress + ")" + "\r\n" +
           ErrorHistoryFileName();
}
