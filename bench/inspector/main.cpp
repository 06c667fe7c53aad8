// Run: bench_inspector [rounds]
// One line per body and operation: best and median wall time of the rounds,
// and the size of what was written out. "inspect+clean+serialize" is what
// opening a message costs: inspect then prepare, or both from one parse
// where the core makes them together.

#include "Mime/MailAttachment.h"
#include "Safety/HTMLInspector.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using namespace bx;

namespace {

// The reader benchmark's plain bodies.
std::string paragraphs(size_t bytes) {
    std::string html = "<html><body>";
    while (html.size() < bytes)
        html += "<p>Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod.</p>\n";
    return html + "</body></html>";
}

// A newsletter as marketing mail writes it: nested tables, inline styles,
// many links and images, tracking pixels, a head full of styles and hints.
std::string newsletter(size_t bytes) {
    std::string html =
        "<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\" "
        "\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-transitional.dtd\">\n<html><head>"
        "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">"
        "<link rel=\"preconnect\" href=\"https://fonts.example\">"
        "<style>body{margin:0} .btn{background:#0a7;color:#fff} td{font:14px Arial}</style></head><body>";
    for (int i = 0; html.size() < bytes; ++i) {
        const std::string n = std::to_string(i);
        html += "<table width=\"600\" cellpadding=\"0\" cellspacing=\"0\" border=\"0\" align=\"center\"><tr>"
                "<td style=\"padding:12px 24px;color:#333\"><a href=\"https://click.mailer.example/ls/click?upn=" +
                n + "&amp;u=abc\" style=\"color:#0a7\">www.shop.example/deal-" + n +
                "</a><br><img src=\"https://img.shop.example/products/" + n +
                ".jpg\" width=\"552\" alt=\"Product " + n +
                "\" style=\"display:block;border:0\"></td></tr><tr><td class=\"btn\">"
                "<a href=\"https://www.shop.example/p/" + n +
                "\">Buy now &rarr;</a> &nbsp;|&nbsp; <a href=\"mailto:help@shop.example\">Help</a></td></tr></table>\n";
        if (i % 20 == 0)
            html += "<img src=\"https://u" + n + ".ct.sendgrid.net/wf/open?upn=" + n +
                    "\" width=\"1\" height=\"1\" style=\"display:none\">\n";
    }
    return html + "</body></html>";
}

double seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void report(const char* body, const char* op, std::vector<double> times, size_t bytes) {
    std::sort(times.begin(), times.end());
    std::printf("%-24s %-28s best %8.1f ms  median %8.1f ms  (%zu bytes)\n", body, op, times.front() * 1000,
                times[times.size() / 2] * 1000, bytes);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    std::vector<MailAttachment> images;
    std::string inlined = "<html><body>";
    for (int i = 0; i < 10; ++i) {
        MailAttachment a;
        a.filename = "image" + std::to_string(i) + ".png";
        a.mimeType = "image/png";
        a.contentID = "img" + std::to_string(i);
        a.isInline = true;
        a.data = std::string(5 * 1000 * 1000, char('a' + i));
        images.push_back(std::move(a));
        inlined += "<img src=\"cid:img" + std::to_string(i) + "\">";
    }
    inlined += "</body></html>";

    struct Body {
        const char* name;
        std::string html;
        const std::vector<MailAttachment>* parts;
    };
    const std::vector<MailAttachment> none;
    const Body bodies[] = {
        {"20 MB html", paragraphs(20 * 1000 * 1000), &none},
        {"5 MB newsletter", newsletter(5 * 1000 * 1000), &none},
        {"ten 5 MB inline images", inlined, &images},
    };
    for (const Body& b : bodies) {
        std::vector<double> inspect, prepare;
        size_t written = 0;
        for (int r = 0; r < rounds; ++r) {
            HTMLReport rep;
            inspect.push_back(seconds([&] { rep = HTMLInspector::inspect(b.html); }));
            std::string out;
            prepare.push_back(seconds([&] {
#ifdef BENCH_ONE_PARSE
                auto prepared = HTMLInspector::prepare(b.html, *b.parts);
                rep = std::move(prepared.report);
                out = std::move(prepared.document);
#else
                rep = HTMLInspector::inspect(b.html);
                out = HTMLInspector::prepareForDisplay(b.html, *b.parts, false);
#endif
            }));
            written = out.size();
        }
        report(b.name, "inspect", inspect, b.html.size());
        report(b.name, "inspect+clean+serialize", prepare, written);
    }
    return 0;
}
