#pragma once

#include "Store/StoreTypes.h"

#include <string>

namespace bx::test {

inline OpenMessage sampleMessage(const std::string& path = "Work/INBOX/2026/2026-12-01 Hello abc.eml") {
  OpenMessage m;
  m.record.path = path;
  m.record.account = "Work";
  m.record.folder = "INBOX";
  m.record.date = Date(std::chrono::seconds(1764590400));
  m.parsed.subject = "Quarterly <b>report</b> & figures";
  m.parsed.from = {MailAddress{"Ada <Lovelace>", "ada@example.com"}};
  m.parsed.to = {MailAddress{"", "me@example.org"}, MailAddress{"Bob", "bob@example.org"}};
  m.parsed.htmlBody = "<p>Hello <a href=\"https://evil.example/x\">www.bank.example</a></p>";
  m.trust = SenderTrust::failed;
  m.authResults = {{"spf", "fail"}, {"dkim", "pass"}, {"dmarc", "softfail"}};
  m.senderFlags = {SenderFlag{SenderFlag::Kind::lookalike, "Looks like bank.example", "detail"}};
  m.replyTo = MailAddress{"", "collect@elsewhere.example"};
  m.report.remoteImageCount = 2;
  m.report.trackerCount = 3;
  m.report.trackerHosts = {"track.example", "pixel.example", "third.example"};
  m.report.linkWarnings = {LinkWarning{"www.bank.example", "bank.example", "evil.example", "https://evil.example/x"}};
  m.copy = CopyStatus::verified(48213);
  m.fileSize = 48213;
  MailAttachment pdf;
  pdf.id = 0;
  pdf.filename = "statement <2026>.pdf";
  pdf.mimeType = "application/pdf";
  pdf.data = std::string(1200, 'x');
  MailAttachment text;
  text.id = 1;
  text.filename = "notes.txt";
  text.mimeType = "text/plain";
  text.data = "plain notes\n";
  m.parsed.attachments = {pdf, text};
  return m;
}

} // namespace bx::test
