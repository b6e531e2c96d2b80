// mail.h: mails svn-admin sends: handed whole to the package's mail
// program (Package().sendmail, "-t -i": the recipients are the message's
// own "To:"), which the build sets, never a request.
#ifndef SVN_ADMIN_MAIL_H_
#define SVN_ADMIN_MAIL_H_

#include <string>

#include "store/status.h"

// Hands `message` (headers, a blank line, the body; lines ending in "\n")
// to the mail program and waits up to a minute for it to take it.
// kNotFound when there is no mail program to run; a failure when it did
// not take the message.
SVNStatus SendMail(const std::string& message);

#endif  // SVN_ADMIN_MAIL_H_
