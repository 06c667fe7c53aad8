// bench_mime_parse: parse + decode every leaf of a generated corpus (about
// 100 MB: mixed and alternative multiparts, base64, quoted-printable, many
// charsets), with our parser and with GMime 3, in the same run; then the peak
// memory of parsing one ~50 MB message with attachments, each in a fresh process.
// "index" is our parser as the search index calls it, attachment bodies left encoded.
//
//   bench_mime_parse [--mb N] [--iterations N] [--large-mb N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "Corpus.h"
#include "Mime/MIMEParser.h"
#include "Util/AtomicFile.h"
#if BX_HAVE_GMIME
#include "GMimeDriver.h"
#endif

namespace {

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

long maxRSSKiB() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_maxrss;
}

std::size_t oursParseAndDecode(const std::string& msg) {
    bx::ParsedMessage m = bx::MIMEParser::parse(msg);
    std::size_t n = m.subject.size();
    for (const auto* list : {&m.from, &m.to, &m.cc})
        for (const auto& a : *list) n += a.name.size() + a.email.size();
    n += m.textBody ? m.textBody->size() : 0;
    n += m.htmlBody ? m.htmlBody->size() : 0;
    for (const auto& a : m.attachments) n += a.data.size();
    return n;
}

// What indexing asks of the parser: attachments are named and counted, not decoded.
std::size_t oursForIndexing(const std::string& msg) {
    bx::ParsedMessage m = bx::MIMEParser::parse(msg, bx::MIMEParser::AttachmentBodies::encoded);
    std::size_t n = m.subject.size();
    for (const auto* list : {&m.from, &m.to, &m.cc})
        for (const auto& a : *list) n += a.name.size() + a.email.size();
    n += m.textBody ? m.textBody->size() : 0;
    n += m.htmlBody ? m.htmlBody->size() : 0;
    for (const auto& a : m.attachments) n += a.filename.size();
    return n;
}

template <class F>
double bestOf(int iterations, const std::vector<std::string>& corpus, F&& f, std::size_t& sink) {
    double best = 1e100;
    for (int it = 0; it < iterations; ++it) {
        auto t0 = std::chrono::steady_clock::now();
        for (const auto& m : corpus) sink += f(m);
        best = std::min(best, seconds(std::chrono::steady_clock::now() - t0));
    }
    return best;
}

// Child mode: read the file, parse it once with one engine, print peak RSS.
int peakChild(const char* engine, const char* path) {
    const std::string msg = bx::readFileOrThrow(path);
    long before = maxRSSKiB();
    std::size_t n = 0;
    if (std::strcmp(engine, "ours") == 0) {
        n = oursParseAndDecode(msg);
    } else if (std::strcmp(engine, "index") == 0) {
        n = oursForIndexing(msg);
    }
#if BX_HAVE_GMIME
    else {
        gmimeInit();
        n = gmimeParseAndDecode(msg).decodedBytes;
    }
#endif
    long after = maxRSSKiB();
    std::printf("%ld %ld %zu\n", before, after, n);
    return 0;
}

void peak(const char* self, const char* engine, const std::string& path, double msgMB) {
    std::string cmd = std::string("'") + self + "' --peak-child " + engine + " '" + path + "'";
    FILE* p = popen(cmd.c_str(), "r");
    long before = 0, after = 0;
    std::size_t n = 0;
    if (!p || std::fscanf(p, "%ld %ld %zu", &before, &after, &n) != 3) {
        std::printf("  %-6s peak memory: failed\n", engine);
        if (p) pclose(p);
        return;
    }
    pclose(p);
    std::printf("  %-6s peak RSS %7.1f MB (message held: %.1f MB; added by parsing: %6.1f MB = %.2fx the message; decoded %zu bytes)\n",
                engine, after / 1024.0, before / 1024.0, (after - before) / 1024.0, (after - before) / 1024.0 / msgMB, n);
}

} // namespace

int main(int argc, char** argv) {
    std::size_t mb = 100;
    int iterations = 3;
    std::size_t largeMB = 50;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--peak-child") && i + 2 < argc) return peakChild(argv[i + 1], argv[i + 2]);
        if (!std::strcmp(argv[i], "--mb") && i + 1 < argc) mb = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--iterations") && i + 1 < argc) iterations = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--large-mb") && i + 1 < argc) largeMB = std::strtoul(argv[++i], nullptr, 10);
    }

    auto corpus = makeCorpus(mb << 20, 20261210);
    std::size_t bytes = 0;
    for (const auto& m : corpus) bytes += m.size();
    const double MB = bytes / 1048576.0;
    std::printf("corpus: %zu messages, %.1f MB\n", corpus.size(), MB);

    std::size_t sink = 0;
    double ours = bestOf(iterations, corpus, oursParseAndDecode, sink);
    std::printf("  ours   %8.3f s  %9.0f messages/s  %7.1f MB/s\n", ours, corpus.size() / ours, MB / ours);
    double forIndex = bestOf(iterations, corpus, oursForIndexing, sink);
    std::printf("  index  %8.3f s  %9.0f messages/s  %7.1f MB/s  (attachment bodies left encoded)\n", forIndex,
                corpus.size() / forIndex, MB / forIndex);
#if BX_HAVE_GMIME
    gmimeInit();
    double peer = bestOf(iterations, corpus, [](const std::string& m) { return gmimeParseAndDecode(m).decodedBytes; }, sink);
    std::printf("  gmime  %8.3f s  %9.0f messages/s  %7.1f MB/s\n", peer, corpus.size() / peer, MB / peer);
    std::printf("  ours/gmime speed: %.2fx\n", peer / ours);
#else
    std::printf("  gmime  not built (libgmime-3.0-dev missing)\n");
#endif
    corpus.clear();
    corpus.shrink_to_fit();

    std::string large = makeLargeMessage(largeMB << 20, 7);
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp ? tmp : "/tmp") + "/bx-mime-large-" + std::to_string(getpid()) + ".eml";
    {
        std::ofstream f(path, std::ios::binary);
        f << large;
    }
    double largeSize = large.size() / 1048576.0;
    large.clear();
    large.shrink_to_fit();
    std::printf("large message: %.1f MB\n", largeSize);
    peak(argv[0], "ours", path, largeSize);
    peak(argv[0], "index", path, largeSize);
#if BX_HAVE_GMIME
    peak(argv[0], "gmime", path, largeSize);
#endif
    std::remove(path.c_str());
    return sink == 42 ? 1 : 0;
}
