// bench-corpus: writes the inputs of the benchmarks, the same bytes on every run (fixed seeds).
//
//   bench-corpus suite DIR        a suite-like tree of about 330 MiB in about 5,800 files: a few
//                                 large program-like binaries, many small text files, some
//                                 already-compressed data (random bytes: deflate cannot shrink it),
//                                 and some 780 files that repeat another byte for byte
//   bench-corpus filler FILE MIB  one file of MIB MiB of random bytes
//
// Prints what it wrote: the number of files and bytes.
#include "base/BinaryFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// splitmix64: small, fast, and the same sequence everywhere for a seed.
class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed) {}
    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
        return low + Next() % (high - low + 1);
    }
    bool Chance(int percent) { return static_cast<int>(Next() % 100) < percent; }
    void Fill(unsigned char* data, std::size_t size) {
        std::size_t at = 0;
        for (; at + 8 <= size; at += 8) {
            const std::uint64_t value = Next();
            for (int i = 0; i < 8; ++i)
                data[at + i] = static_cast<unsigned char>(value >> (8 * i));
        }
        for (const std::uint64_t value = Next(); at < size; ++at)
            data[at] = static_cast<unsigned char>(value >> (8 * (at % 8)));
    }

private:
    std::uint64_t state_;
};

struct Totals {
    std::uint64_t files = 0;
    std::uint64_t bytes = 0;
};

bool WriteFile(const fs::path& path, const std::vector<unsigned char>& bytes, Totals& totals) {
    fs::create_directories(path.parent_path());
    base::BinaryFile out;
    if (!out.Open(path.string(), "wb") || !out.Write(bytes.data(), bytes.size()) || !out.Close()) {
        std::fprintf(stderr, "bench-corpus: cannot write %s\n", path.string().c_str());
        return false;
    }
    ++totals.files;
    totals.bytes += bytes.size();
    return true;
}

// Random bytes, written a block at a time.
bool WriteRandomFile(const fs::path& path, std::uint64_t size, Random& random, Totals& totals) {
    fs::create_directories(path.parent_path());
    base::BinaryFile out;
    if (!out.Open(path.string(), "wb")) {
        std::fprintf(stderr, "bench-corpus: cannot create %s\n", path.string().c_str());
        return false;
    }
    std::vector<unsigned char> block(4 * kMiB);
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
        random.Fill(block.data(), chunk);
        if (!out.Write(block.data(), chunk)) {
            std::fprintf(stderr, "bench-corpus: cannot write %s\n", path.string().c_str());
            return false;
        }
        left -= chunk;
    }
    if (!out.Close()) {
        std::fprintf(stderr, "bench-corpus: cannot write %s\n", path.string().c_str());
        return false;
    }
    ++totals.files;
    totals.bytes += size;
    return true;
}

// Bytes that compress about as well as a program's code and data: short runs of a skewed
// "opcode" alphabet, repeats of recent stretches, zero padding and some noise.
std::vector<unsigned char> ProgramLikeBytes(std::uint64_t size, Random& random) {
    std::vector<unsigned char> bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const std::size_t run = static_cast<std::size_t>(random.Between(8, 200));
        const int kind = static_cast<int>(random.Next() % 100);
        if (kind < 40 && bytes.size() > 4096) {
            const std::size_t distance = static_cast<std::size_t>(random.Between(16, 32000));
            const std::size_t from = bytes.size() - std::min(distance, bytes.size());
            for (std::size_t i = 0; i < run; ++i)
                bytes.push_back(bytes[from + i]);
        } else if (kind < 75) {
            for (std::size_t i = 0; i < run; ++i) {
                // Small values far more often than large ones.
                const std::uint64_t r = random.Next();
                bytes.push_back(static_cast<unsigned char>((r & 0xFF) >> ((r >> 8) % 6)));
            }
        } else if (kind < 85) {
            bytes.insert(bytes.end(), run, 0);
        } else {
            for (std::size_t i = 0; i < run; ++i)
                bytes.push_back(static_cast<unsigned char>(random.Next()));
        }
    }
    bytes.resize(size);
    return bytes;
}

std::vector<std::string> MakeVocabulary(Random& random) {
    static const char kLetters[] = "etaoinshrdlucmfwypvbgkqjxz";
    std::vector<std::string> words;
    for (int i = 0; i < 3000; ++i) {
        std::string word;
        const int length = static_cast<int>(random.Between(2, 11));
        for (int c = 0; c < length; ++c) {
            // Skewed towards the common letters, as in real text.
            const std::uint64_t r = random.Next();
            word.push_back(kLetters[(r % 26) >> ((r >> 8) % 3)]);
        }
        words.push_back(word);
    }
    return words;
}

// Lines of words, with a word distribution skewed towards a few frequent ones.
std::vector<unsigned char> TextBytes(std::uint64_t size, const std::vector<std::string>& words,
                                     Random& random) {
    std::string text;
    text.reserve(size + 128);
    std::size_t lineStart = 0;
    while (text.size() < size) {
        const std::uint64_t r = random.Next();
        const std::string& word = words[(r % words.size()) >> ((r >> 32) % 5)];
        text += word;
        if (text.size() - lineStart > static_cast<std::size_t>(random.Between(50, 100))) {
            text += "\r\n";
            lineStart = text.size();
        } else {
            text += random.Chance(8) ? ", " : " ";
        }
    }
    text.resize(size);
    return {text.begin(), text.end()};
}

int WriteSuite(const fs::path& root) {
    if (fs::exists(root)) {
        std::fprintf(stderr, "bench-corpus: %s exists already\n", root.string().c_str());
        return 1;
    }
    Totals totals;
    Random random(0x70727661'6E652031ull);

    // A few large program-like binaries: 160 MiB.
    const std::pair<const char*, std::uint64_t> binaries[] = {{"Torvane.exe", 24},
                                                              {"bin/TorvaneCore.dll", 56},
                                                              {"bin/PellisarEngine.dll", 40},
                                                              {"bin/DromletRuntime.dll", 24},
                                                              {"data/Symbols.pdb", 16}};
    for (const auto& [name, mib] : binaries)
        if (!WriteFile(root / name, ProgramLikeBytes(mib * kMiB, random), totals))
            return 1;

    // Already-compressed data (media, cabinets): 72 files, 64 MiB of random bytes.
    const char* const mediaKinds[] = {"media/video/clip%03d.mp4", "media/sound/track%03d.ogg",
                                      "media/pictures/photo%03d.jpg", "redist/package%03d.cab"};
    std::vector<std::uint64_t> weights;
    std::uint64_t weightSum = 0;
    for (int i = 0; i < 72; ++i)
        weightSum += weights.emplace_back(random.Between(1, 6));
    std::uint64_t mediaLeft = 64 * kMiB;
    for (int i = 0; i < 72; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, mediaKinds[i % 4], i);
        const std::uint64_t size = i == 71 ? mediaLeft : 64 * kMiB * weights[i] / weightSum;
        mediaLeft -= size;
        if (!WriteRandomFile(root / name, size, random, totals))
            return 1;
    }

    // Many small text files (help, samples, settings, localisation): 4,920 files in 123 folders.
    const std::vector<std::string> words = MakeVocabulary(random);
    std::vector<std::string> texts;
    const char* const areas[] = {"help", "samples", "templates", "locale", "config", "docs"};
    const char* const extensions[] = {".txt", ".html", ".xml", ".ini", ".csv", ".css"};
    for (int i = 0; i < 4920; ++i) {
        const int folder = i % 123;
        char name[128];
        std::snprintf(name, sizeof name, "%s/section%02d/topic%02d/%s%04d%s", areas[folder % 6],
                      folder / 6, folder % 7, words[static_cast<std::size_t>(i) % 97].c_str(), i,
                      extensions[(i / 123) % 6]);
        // Mostly a few KiB, some up to 96 KiB: about 15 KiB on average.
        const std::uint64_t size = random.Chance(10) ? random.Between(32 * 1024, 96 * 1024)
                                                     : random.Between(200, 20 * 1024);
        if (!WriteFile(root / name, TextBytes(size, words, random), totals))
            return 1;
        texts.push_back(name);
    }

    // Files that repeat others byte for byte, as suites ship the same notices, samples and
    // symbols in several places: 780 of the text files and one large binary, about 27 MiB.
    std::vector<std::pair<std::string, std::string>> repeats = {
        {"data/Symbols.pdb", "data/backup/Symbols.pdb"}};
    for (std::size_t i = 0; i < 780; ++i)
        repeats.emplace_back(texts[i * 6], "shared/" + texts[i * 6]);
    for (const auto& [from, to] : repeats) {
        std::error_code error;
        fs::create_directories((root / to).parent_path(), error);
        if (!fs::copy_file(root / from, root / to, error)) {
            std::fprintf(stderr, "bench-corpus: cannot write %s\n", (root / to).string().c_str());
            return 1;
        }
        ++totals.files;
        totals.bytes += fs::file_size(root / to);
    }

    std::printf("bench-corpus: %llu files, %llu bytes (%.1f MiB) in %s\n",
                static_cast<unsigned long long>(totals.files),
                static_cast<unsigned long long>(totals.bytes),
                static_cast<double>(totals.bytes) / kMiB, root.string().c_str());
    return 0;
}

int WriteFiller(const fs::path& path, std::uint64_t mib) {
    Totals totals;
    Random random(0x66696C6C'65720001ull + mib);
    if (!WriteRandomFile(path, mib * kMiB, random, totals))
        return 1;
    std::printf("bench-corpus: %s, %llu bytes\n", path.string().c_str(),
                static_cast<unsigned long long>(totals.bytes));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == "suite")
        return WriteSuite(args[1]);
    if (args.size() == 3 && args[0] == "filler") {
        char* end = nullptr;
        const unsigned long long mib = std::strtoull(args[2].c_str(), &end, 10);
        if (*end == '\0' && mib > 0 && mib < 2048)
            return WriteFiller(args[1], mib);
    }
    std::fprintf(stderr, "usage: bench-corpus suite DIR\n"
                         "       bench-corpus filler FILE MIB   (1 to 2047)\n");
    return 2;
}
