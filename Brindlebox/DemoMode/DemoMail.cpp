#include "DemoMode/DemoMail.h"

#include "DemoMode/DemoFiller.h"
#include "DemoMode/DemoOwner.h"

namespace bx {

namespace {

constexpr const char* kFeaturedReceiver = "mx2.kestrelmail.com";
constexpr const char* kBody = "font:15px/1.6 -apple-system,sans-serif;color:#1d1d1f";

const demo::Party& personal(int row) { return demo::personalParties()[row]; }
const demo::Party& studio(int row) { return demo::studioParties()[row]; }

DemoMail mail(const char* account, const char* folder, const std::string& name, const std::string& email,
              std::string subject, double days, std::string text, DemoMail::Kind kind = DemoMail::Kind::plain,
              std::vector<DemoMail::Attachment> attachments = {}, bool isNew = false) {
    DemoMail m;
    m.account = account;
    m.folder = folder;
    m.fromName = name;
    m.fromEmail = email;
    m.subject = std::move(subject);
    m.daysAgo = days;
    m.text = std::move(text);
    m.kind = kind;
    m.attachments = std::move(attachments);
    m.isNew = isNew;
    return m;
}

std::string plainHTML(const std::string& text) {
    std::string html = std::string("<html><body style=\"") + kBody + "\">";
    std::size_t start = 0;
    while (true) {
        const std::size_t nl = text.find('\n', start);
        const std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        html += line.empty() ? "<br>" : "<p style=\"margin:0 0 4px\">" + line + "</p>";
        if (nl == std::string::npos) break;
        start = nl + 1;
    }
    return html + "</body></html>";
}

const char* kNewsletterHTML =
    "<html><body style=\"margin:0;background:#f4efe6;font-family:Georgia,'Times New Roman',serif;color:#2b2b2b\">"
    "<table role=\"presentation\" width=\"100%\" cellpadding=\"0\" cellspacing=\"0\"><tr><td align=\"center\">"
    "<table role=\"presentation\" width=\"560\" cellpadding=\"0\" cellspacing=\"0\" "
    "style=\"background:#fffdf8;margin:24px auto;border-radius:6px;overflow:hidden\">"
    "<tr><td style=\"background:#23412f;color:#f4efe6;padding:14px 24px;font-size:13px;letter-spacing:2px\">"
    "SLOW MORNINGS WEEKLY &middot; ISSUE 212</td></tr>"
    "<tr><td><img src=\"https://img.slowmornings.co/issues/212/hero.jpg\" width=\"560\" height=\"190\" alt=\"\" "
    "style=\"display:block\"></td></tr>"
    "<tr><td style=\"padding:20px 24px 4px\"><h1 style=\"font-size:26px;margin:0 0 8px\">The art of the slow "
    "morning</h1><p style=\"font-size:16px;line-height:1.6;margin:0\">Why the first hour of the day matters more "
    "than the last, a ten-minute pour-over ritual, and three readers on the notebooks they keep by the "
    "kettle.</p></td></tr>"
    "<tr><td style=\"padding:16px 24px\"><table role=\"presentation\" width=\"100%\"><tr>"
    "<td width=\"250\"><img src=\"https://img.slowmornings.co/issues/212/cup.jpg\" width=\"250\" height=\"120\" "
    "alt=\"\" style=\"display:block\"><p style=\"font-size:13px;margin:6px 0 0\">Ten minutes, one cup</p></td>"
    "<td width=\"20\"></td>"
    "<td width=\"250\"><img src=\"https://img.slowmornings.co/issues/212/notebooks.jpg\" width=\"250\" "
    "height=\"120\" alt=\"\" style=\"display:block\"><p style=\"font-size:13px;margin:6px 0 0\">Readers’ "
    "notebooks</p></td></tr></table></td></tr>"
    "<tr><td align=\"center\" style=\"padding:8px 24px 28px\"><a href=\"https://slowmornings.co/issues/212\" "
    "style=\"display:inline-block;background:#23412f;color:#fffdf8;text-decoration:none;padding:12px 22px;"
    "border-radius:22px;font-size:15px\">Read the full issue</a></td></tr>"
    "</table></td></tr></table>"
    "<img src=\"https://slowmornings.us4.list-manage.com/track/open.php?u=8f2a61c0&amp;id=71c3e9b5\" width=\"1\" "
    "height=\"1\" alt=\"\">"
    "<img src=\"https://click.slowmornings.co/wf/open?upn=Xk29aQ7Lm0\" width=\"1\" height=\"1\" alt=\"\" "
    "style=\"display:none\">"
    "</body></html>";

std::string phishHTML() {
    return std::string("<html><body style=\"") + kBody +
           "\"><h2 style=\"color:#0b3d6e;margin:0 0 12px\">Unusual sign-in activity</h2>"
           "<p style=\"margin:0 0 10px\">Dear customer,</p>"
           "<p style=\"margin:0 0 10px\">We noticed a sign-in to your online banking from a new device. For your "
           "protection, access to your account has been <b>temporarily limited</b>.</p>"
           "<p style=\"margin:0 0 16px\">Please confirm your details within 24 hours to avoid permanent "
           "suspension:</p>"
           "<p style=\"margin:0 0 20px\"><a href=\"http://fjordbank-login.ru/login?session=48213\" "
           "style=\"display:inline-block;background:#0b3d6e;color:#ffffff;text-decoration:none;padding:10px "
           "18px;border-radius:6px\">https://www.fjordbank.se/secure</a></p>"
           "<p style=\"color:#86868b;font-size:13px;margin:0\">Fjord Bank Security Team</p></body></html>";
}

std::string phish2HTML() {
    return std::string("<html><body style=\"") + kBody +
           "\"><p style=\"margin:0 0 10px\">Your parcel <b>PW 4471 0093 SE</b> could not be delivered because the "
           "customs fee of €1.99 is unpaid.</p>"
           "<p style=\"margin:0 0 10px\">Pay now to reschedule delivery: "
           "<a href=\"https://redelivery-fees.top/pay\">parcelway.com/redeliver</a></p></body></html>";
}

std::string base64Lines(const QByteArray& data) {
    const QByteArray b64 = data.toBase64();
    std::string out;
    for (qsizetype i = 0; i < b64.size(); i += 76) {
        if (i) out += "\r\n";
        out.append(b64.constData() + i, std::min<qsizetype>(76, b64.size() - i));
    }
    return out;
}

}  // namespace

QByteArray DemoMail::attachmentContent(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>((7 + 31LL * i) % 251);
    return bytes;
}

const std::vector<DemoMail>& DemoMail::all() {
    using K = DemoMail::Kind;
    static const std::vector<DemoMail> rows = [] {
        const std::string pdf = "application/pdf";
        const std::string jpg = "image/jpeg";
        const auto& newsletter = demo::newsletterParties()[0];
        const auto& bank = personal(7);
        std::vector<DemoMail> r;
        r.push_back(mail("Personal", "INBOX", personal(0).name, personal(0).email, "Dinner on Friday?", 0.03,
                         "Hey!\n\nWe’re doing a small dinner on Friday, around seven. Bring nothing but yourself.\n\n"
                         "Jonas",
                         K::plain, {}, true));
        r.push_back(mail("Studio", "INBOX", studio(3).name, studio(3).email,
                         "Harbor Hosting invoice HH-20931 for October", 0.08,
                         "Hello,\n\nYour invoice HH-20931 for October is attached. It will be charged to the card on "
                         "file.\n\nHarbor Hosting Billing",
                         K::plain, {{"HH-20931.pdf", pdf, 38000}}, true));
        r.push_back(mail("Personal", "INBOX", newsletter.name, newsletter.email, "The art of the slow morning ☕",
                         0.12,
                         "This week: why the first hour of the day matters more than the last, a ten-minute "
                         "pour-over ritual, and three readers on their notebooks.",
                         K::newsletter, {}, true));
        r.push_back(mail("Personal", "INBOX", bank.name, "security@fjordbank-verify.se",
                         "Action required: confirm your details", 0.2,
                         "We detected a sign-in to your online banking from a new device. Please confirm your "
                         "details within 24 hours.",
                         K::phish, {}, true));
        r.push_back(mail("Studio", "INBOX", studio(0).name, studio(0).email, "Re: Brand refresh — round 2 feedback",
                         0.3,
                         "Hi Elin,\n\nThe team loves round 2. One note: can the cup mark breathe a little more?\n\n"
                         "Ida",
                         K::plain, {}, true));
        r.push_back(mail("Personal", "INBOX", personal(1).name, personal(1).email, "Photos from the cabin", 0.6,
                         "Two favourites from the weekend — the lake at sunrise and the porch.\n\nSofia", K::plain,
                         {{"lake-sunrise.jpg", jpg, 64000}, {"cabin-porch.jpg", jpg, 58000}}, true));
        r.push_back(mail("Personal", "INBOX", personal(4).name, personal(4).email, "Lisbon — your trip is confirmed",
                         1.2, "Your trip to Lisbon is confirmed. Your itinerary is attached.\n\nSkybridge Air",
                         K::plain, {{"Itinerary-K7QX2M.pdf", pdf, 52000}}));
        r.push_back(mail("Personal", "INBOX", "Parcel-Way", "notice@parcel-way.com",
                         "Delivery attempt failed — fee unpaid", 2.4,
                         "Your parcel could not be delivered because the customs fee of €1.99 is unpaid.", K::phish2));
        r.push_back(mail("Studio", "INBOX", studio(2).name, studio(2).email, "Invoice INV-0482 — business cards",
                         3.1, "Hi Elin,\n\nThanks for the order — invoice attached.\n\nPressgården Print", K::plain,
                         {{"INV-0482.pdf", pdf, 41000}}));
        r.push_back(mail("Personal", "INBOX", "Mamma", personal(2).email, "Sunday lunch", 3.6,
                         "Lunch at one on Sunday? Pappa is making the fish soup.\n\nKram, Mamma"));
        r.push_back(mail("Studio", "INBOX", studio(1).name, studio(1).email, "Q4 planning notes", 4.2,
                         "Notes from today: two retainers renew in November, and we should decide on the second "
                         "printer.\n\nTheo"));
        r.push_back(mail("Personal", "INBOX", personal(5).name, personal(5).email, "Your reserved book is ready", 5.5,
                         "Your reserved book is ready for pick-up at the main desk for seven days."));
        r.push_back(mail("Studio", "INBOX", studio(4).name, studio(4).email, "Signage proofs — approved!", 6.3,
                         "All approved on our side — please send the final files to the printer.\n\nVera"));
        r.push_back(mail("Personal", "INBOX", personal(3).name, personal(3).email,
                         "Your electricity invoice for September", 21,
                         "Your invoice for September is attached. Amount due: 642 kr.", K::plain,
                         {{"Faktura-2024-09.pdf", pdf, 33000}}));
        r.push_back(mail("Studio", "Sent", demo::Owner::name, demo::Owner::studio,
                         "Invoice 2024-017 — Holm Arkitekter signage", 24,
                         "Hi Vera,\n\nPlease find our invoice for the signage project attached.\n\nBest,\nElin",
                         K::plain, {{"Marsh-Lund-Invoice-2024-017.pdf", pdf, 45000}}));
        r.push_back(mail("Personal", "INBOX", personal(0).name, personal(0).email, "Climbing on Thursday", 30,
                         "The wall at six on Thursday? I’ll bring the rope.\n\nJonas"));
        r.push_back(mail("Personal", "INBOX", personal(6).name, personal(6).email, "Annual meeting minutes", 48,
                         "Attached are the minutes from this year’s annual meeting.\n\nThe Board", K::plain,
                         {{"Minutes-2024.pdf", pdf, 61000}}));
        r.push_back(mail("Studio", "INBOX", studio(3).name, studio(3).email,
                         "Harbor Hosting invoice HH-20544 for September", 31,
                         "Hello,\n\nYour invoice HH-20544 for September is attached.\n\nHarbor Hosting Billing",
                         K::plain, {{"HH-20544.pdf", pdf, 38000}}));
        r.push_back(mail("Personal", "INBOX", personal(1).name, personal(1).email, "Cabin weekend — who’s in?", 62,
                         "We have the cabin for the last weekend of the month. Who’s in?\n\nSofia"));
        r.push_back(mail("Studio", "INBOX", studio(0).name, studio(0).email, "Brand refresh — kickoff", 90,
                         "Hi Elin,\n\nOur brief for the refresh is attached. Looking forward to Tuesday.\n\nIda",
                         K::plain, {{"Ember-Coffee-Brief.pdf", pdf, 72000}}));
        r.push_back(mail("Personal", "INBOX", "National Tax Agency", "no-reply@taxagency.se",
                         "Your tax return has been received", 160,
                         "We have received your tax return. You do not need to do anything more."));
        r.push_back(mail("Studio", "INBOX", studio(2).name, studio(2).email, "Invoice INV-0391 — posters", 210,
                         "Invoice for the poster run attached.\n\nPressgården Print", K::plain,
                         {{"INV-0391.pdf", pdf, 39000}}));
        r.push_back(mail("Personal", "INBOX", personal(0).name, personal(0).email, "Happy birthday!! 🎉", 300,
                         "Happy birthday! Cake at ours on Saturday.\n\nJonas"));
        r.push_back(mail("Studio", "INBOX", studio(1).name, studio(1).email, "Studio lease renewal", 400,
                         "The landlord sent the renewal — same terms, three years. Shall we sign?\n\nTheo"));
        r.push_back(mail("Personal", "INBOX", personal(3).name, personal(3).email,
                         "Your electricity invoice for December", 320,
                         "Your invoice for December is attached. Amount due: 1 184 kr.", K::plain,
                         {{"Faktura-2023-12.pdf", pdf, 33000}}));
        r.push_back(mail("Personal", "INBOX", personal(1).name, personal(1).email, "Recipe: saffron buns", 700,
                         "As promised — the saffron buns. Soak the saffron in warm milk first!\n\nSofia"));
        return r;
    }();
    return rows;
}

QByteArray DemoMail::eml(const QDateTime& date) const {
    const std::string domain = demo::senderDomain(fromEmail);
    const std::uint64_t n = demo::textHash(subject);
    const std::string number = std::to_string(n % 99999);
    const std::string alt = "alt-" + number;
    const std::string mix = "mix-" + number;
    const bool fails = kind == Kind::phish || kind == Kind::phish2;

    std::vector<std::string> lines;
    std::string auth = std::string("Authentication-Results: ") + kFeaturedReceiver;
    auth += fails ? "; spf=softfail smtp.mailfrom=" + domain + "; dkim=fail header.d=" + domain +
                        "; dmarc=fail header.from=" + domain
                  : "; spf=pass smtp.mailfrom=" + domain + "; dkim=pass header.d=" + domain +
                        "; dmarc=pass header.from=" + domain;
    lines.push_back(auth);
    lines.push_back("From: " + fromName + " <" + fromEmail + ">");
    lines.push_back(std::string("To: ") + demo::Owner::name + " <" +
                    (account == "Studio" ? demo::Owner::studio : demo::Owner::personal) + ">");
    if (kind == Kind::phish) lines.push_back("Reply-To: Account Security <support@acct-review.info>");
    lines.push_back("Subject: " + subject);
    lines.push_back("Date: " + demo::rfc822Date(date));
    lines.push_back("Message-ID: <" + std::to_string(n) + "@" + domain + ">");
    lines.push_back("MIME-Version: 1.0");
    lines.push_back(attachments.empty() ? "Content-Type: multipart/alternative; boundary=\"" + alt + "\""
                                        : "Content-Type: multipart/mixed; boundary=\"" + mix + "\"");

    std::string html;
    switch (kind) {
    case Kind::plain: html = plainHTML(text); break;
    case Kind::newsletter: html = kNewsletterHTML; break;
    case Kind::phish: html = phishHTML(); break;
    case Kind::phish2: html = phish2HTML(); break;
    }

    const std::string crlf = "\r\n";
    const std::string altBody = "--" + alt + crlf + "Content-Type: text/plain; charset=utf-8" + crlf +
                                "Content-Transfer-Encoding: 8bit" + crlf + crlf + text + crlf + "--" + alt + crlf +
                                "Content-Type: text/html; charset=utf-8" + crlf + "Content-Transfer-Encoding: 8bit" +
                                crlf + crlf + html + crlf + "--" + alt + "--" + crlf;

    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i) out += crlf;
        out += lines[i];
    }
    out += crlf + crlf;
    if (attachments.empty()) {
        out += altBody;
    } else {
        out += "--" + mix + crlf + "Content-Type: multipart/alternative; boundary=\"" + alt + "\"" + crlf + crlf +
               altBody;
        for (const auto& a : attachments) {
            out += crlf + "--" + mix + crlf + "Content-Type: " + a.type + "; name=\"" + a.name + "\"" + crlf +
                   "Content-Disposition: attachment; filename=\"" + a.name + "\"" + crlf +
                   "Content-Transfer-Encoding: base64" + crlf + crlf + base64Lines(attachmentContent(a.size)) + crlf;
        }
        out += "--" + mix + "--" + crlf;
    }
    return QByteArray::fromStdString(out);
}

}  // namespace bx
