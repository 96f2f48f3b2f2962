#pragma once
// Sends one mail through the desktop's mail program (xdg-email): the
// recipients, subject, body and attachments are handed to it, and it opens
// or sends the mail as the user's desktop is set up to do.
#include <string>

#include "base/exceptions.h"
#include "base/shared_functions.h"

ORVALIS_DECLARE_ERROR(EMailError, Exception);

class TAFQuickMail {
public:
    TAFQuickMail();

    TStringList TextToSend;  // body lines
    TStringList ToEmail;
    TStringList ToCCEmail;
    TStringList ToBCCEmail;
    TStringList FileNames;  // attachments
    std::string Subject;
    // How long Send waits for the mail program. One still running after that
    // has the mail open in its composer, which counts as sent.
    int WaitSeconds = 10;

    // Message of a failed send, before " (<result>)." is added.
    const std::string& ErrorMessage() const { return errorMessage_; }
    void SetErrorMessage(const std::string& message);  // empty restores the default

    // Clears the five lists and Subject.
    void ResetAll();

    // Raises EMailError "<ErrorMessage> (<result>)." unless SendMail gives 0.
    void Send();
    // 0 on success; -1 when "xdg-email" cannot be found or run; otherwise its
    // exit status (128 + signal number when it was killed).
    int SendMail() const;
    // The argument list given to the mail program (program name first).
    TStringList MailCommand() const;

private:
    std::string errorMessage_;
};
