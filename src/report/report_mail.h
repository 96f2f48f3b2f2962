#pragma once
// Mailing the error history to the authors.
#include <string>

#include "base/product.h"  // kSupportAddress: where bug reports go

class TAFQuickMail;

// "mailto:" and the support address: a new mail in the user's mail program
// when sending the archive did not work.
std::string SupportMailtoUrl();

// Mails the error history to the support address with the subject
// "Bug report: Brennick Orvalis  Ver.1.0.2" and the archive attached, and
// deletes the archive once the mail program has taken it, so the next
// report starts a new one. The mail program reads the attachment whenever
// the user actually sends, so it gets a private copy of its own.
// Raises EMailError when the mail program fails or is missing, EOSError
// when the archive cannot be read or deleted; the archive then stays.
// mail lets a caller adjust the mail before it goes (tests: WaitSeconds).
void SendErrorHistory(TAFQuickMail& mail);
void SendErrorHistory();

// The message shown when the mail could not be sent: send the file by hand.
std::string ManualSendingMessage();
