// bench_mime_parse: parse + decode every leaf of a generated corpus (about
// 100 MB: mixed and alternative multiparts, base64, quoted-printable, many
// charsets), with our parser and with GMime 3, in the same run; then the peak
// memory of parsing one ~50 MB message with attachments, each in a fresh process.
//
// Like is compared with like: both sides decode every part (transfer
// encoding, text to UTF-8) and the subject, date and address headers; the
// ratio is of those two. "index" is our parser as the search index calls it,
// attachment bodies left encoded: GMime has no such mode, so it has no ratio.
// Times are medians of --iterations passes over the corpus, the two sides
// alternating pass by pass.
//
//   bench_mime_parse [--mb N] [--iterations N] [--large-mb N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n == 0 ? 0 : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double threadCPU() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// Wall and CPU seconds of one pass. The machine may be shared: CPU time
// leaves out the time spent waiting for a core.
struct Pass {
    double wall, cpu;
};

template <class F>
Pass onePass(const std::vector<std::string>& corpus, F&& f, std::size_t& sink) {
    const double c0 = threadCPU();
    auto t0 = std::chrono::steady_clock::now();
    for (const auto& m : corpus) sink += f(m);
    return {seconds(std::chrono::steady_clock::now() - t0), threadCPU() - c0};
}

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string a, b, c;
    in >> a >> b >> c;
    return a + " " + b + " " + c;
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
    int iterations = 5;
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
    std::vector<double> oursWall, indexWall, peerWall, oursCPU, indexCPU, peerCPU;
#if BX_HAVE_GMIME
    gmimeInit();
#endif
    auto keep = [](Pass p, std::vector<double>& wall, std::vector<double>& cpu) {
        wall.push_back(p.wall);
        cpu.push_back(p.cpu);
    };
    for (int it = 0; it < iterations; ++it) {
        keep(onePass(corpus, oursParseAndDecode, sink), oursWall, oursCPU);
        keep(onePass(corpus, oursForIndexing, sink), indexWall, indexCPU);
#if BX_HAVE_GMIME
        keep(onePass(corpus, [](const std::string& m) { return gmimeParseAndDecode(m).decodedBytes; }, sink),
             peerWall, peerCPU);
#endif
    }
    const double ours = median(oursWall), forIndex = median(indexWall);
    std::printf("medians of %d passes; load average %s\n", iterations, loadAverage().c_str());
    std::printf("         wall        CPU\n");
    std::printf("  ours   %8.3f s %8.3f s  %7.1f MB/s  (every part and header decoded)\n", ours, median(oursCPU),
                MB / ours);
    std::printf("  index  %8.3f s %8.3f s  %7.1f MB/s  (attachment bodies left encoded)\n", forIndex,
                median(indexCPU), MB / forIndex);
#if BX_HAVE_GMIME
    const double peer = median(peerWall);
    std::printf("  gmime  %8.3f s %8.3f s  %7.1f MB/s  (every part and header decoded)\n", peer, median(peerCPU),
                MB / peer);
    std::printf("  ratio ours / gmime: wall %.3f, CPU %.3f\n", ours / peer, median(oursCPU) / median(peerCPU));
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
