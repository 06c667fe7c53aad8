#pragma once
// The hand-written messages that carry the demo's story on top of the filler:
// fresh mail, a newsletter full of trackers, two phishing attempts, invoices
// and photos with attachments, older correspondence.
#include <string>
#include <tuple>
#include <vector>

#include <QByteArray>
#include <QDateTime>

namespace bx {

struct DemoMail {
    enum class Kind { plain, newsletter, phish, phish2 };
    struct Attachment {
        std::string name;
        std::string type;
        int size = 0;
    };

    std::string account;  // "Personal" or "Studio"
    std::string folder;   // "INBOX" or "Sent"
    std::string fromName;
    std::string fromEmail;
    std::string subject;
    double daysAgo = 0;
    std::string text;
    Kind kind = Kind::plain;
    std::vector<Attachment> attachments;
    bool isNew = false;

    static const std::vector<DemoMail>& all();
    QByteArray eml(const QDateTime& date) const;

    // Byte i is (7 + 31 i) mod 251.
    static QByteArray attachmentContent(int size);
};

}  // namespace bx
