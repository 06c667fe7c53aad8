// Feeds FETCH streams of 50, 100 and 200 MB to IMAPResponseReader in 4 KiB
// and 256 KiB chunks, turning every response into an IMAPFetchItem, and
// prints the time per stream. Time must grow linearly with the stream size:
// the reader neither re-scans buffered bytes nor shifts the buffer per chunk.
//
//   bench_imap_reader            all streams and sizes
//   bench_imap_reader 400        also the given size in MB
#include "Imap/IMAPFetchItem.h"
#include "Imap/IMAPResponseReader.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

using namespace bx;

namespace {

constexpr std::size_t MB = 1000 * 1000;

// Messages of 1 KB to 256 KB with CR LF lines inside, each as one
// "* n FETCH (UID .. RFC822.SIZE .. FLAGS (..) INTERNALDATE ".." BODY[] {n}" response.
std::string mixedStream(std::size_t target) {
    std::mt19937 rng(42);
    std::uniform_int_distribution<std::size_t> sizes(1000, 256 * 1024);
    std::string out;
    out.reserve(target + 300 * 1024);
    std::string line(76, 'x');
    line += "\r\n";
    for (std::size_t seq = 1; out.size() < target; ++seq) {
        const std::size_t n = sizes(rng);
        out += "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(seq + 1000) + " RFC822.SIZE " +
               std::to_string(n) + " FLAGS (\\Seen) INTERNALDATE \" 7-Mar-2024 09:15:02 +0100\" BODY[] {" +
               std::to_string(n) + "}\r\n";
        std::size_t left = n;
        while (left >= line.size()) {
            out += line;
            left -= line.size();
        }
        out.append(left, 'y');
        out += ")\r\n";
    }
    out += "A1 OK UID FETCH completed\r\n";
    return out;
}

// One message body as a single literal of the whole size.
std::string oneBodyStream(std::size_t target) {
    std::string out = "* 1 FETCH (UID 1 BODY[] {" + std::to_string(target) + "}\r\n";
    const std::size_t head = out.size();
    out.resize(head + target, 'z');
    for (std::size_t i = head + 70; i < out.size(); i += 78) {
        out[i - 1] = '\r';
        out[i] = '\n';
    }
    out += ")\r\nA1 OK done\r\n";
    return out;
}

// Metadata only: many short responses without literals.
std::string metadataStream(std::size_t target) {
    std::string out;
    out.reserve(target + 200);
    for (std::size_t seq = 1; out.size() < target; ++seq)
        out += "* " + std::to_string(seq) + " FETCH (UID " + std::to_string(seq) +
               " RFC822.SIZE 4096 FLAGS (\\Seen $Forwarded) INTERNALDATE \"07-Mar-2024 09:15:02 +0100\")\r\n";
    out += "A1 OK done\r\n";
    return out;
}

struct Result {
    double seconds;
    std::size_t responses;
    std::size_t bodyBytes;
};

Result run(const std::string& stream, std::size_t chunk) {
    IMAPResponseReader reader;
    Result r{0, 0, 0};
    const auto t0 = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < stream.size(); i += chunk) {
        reader.append(std::string_view(stream).substr(i, chunk));
        while (auto resp = reader.next()) {
            ++r.responses;
            if (resp->isUntagged())
                if (auto item = IMAPFetchItem::fromValues(std::move(resp->values)))
                    if (item->body) r.bodyBytes += item->body->size();
        }
    }
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (reader.bufferedByteCount() != 0) {
        std::fprintf(stderr, "stream not fully consumed\n");
        std::exit(1);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> sizes = {50 * MB, 100 * MB, 200 * MB};
    if (argc > 1) sizes.push_back(std::size_t(std::atol(argv[1])) * MB);
    struct Kind {
        const char* name;
        std::string (*make)(std::size_t);
    } kinds[] = {{"mixed bodies", mixedStream}, {"one body", oneBodyStream}, {"metadata", metadataStream}};
    const std::size_t chunks[] = {4096, 256 * 1024};

    std::printf("%-13s %8s %8s %10s %10s %9s %10s\n", "stream", "MB", "chunk", "responses", "seconds", "MB/s", "ns/byte");
    for (const auto& kind : kinds) {
        for (std::size_t size : sizes) {
            const std::string stream = kind.make(size);
            for (std::size_t chunk : chunks) {
                // Best of three, to keep scheduler noise out of the slope.
                Result best = run(stream, chunk);
                for (int k = 0; k < 2; ++k) {
                    const Result again = run(stream, chunk);
                    if (again.seconds < best.seconds) best = again;
                }
                std::printf("%-13s %8.1f %7zuK %10zu %10.3f %9.0f %10.2f\n", kind.name, double(stream.size()) / MB,
                            chunk / 1024, best.responses, best.seconds, double(stream.size()) / MB / best.seconds,
                            best.seconds * 1e9 / double(stream.size()));
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
