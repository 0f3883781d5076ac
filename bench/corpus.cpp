// bench-corpus: writes the inputs of the benchmarks, the same bytes on every run (fixed seeds).
//
//   bench-corpus suite DIR        a suite-like tree of about 330 MiB in about 5,800 files: a few
//                                 large program-like binaries, many small text files, some
//                                 already-compressed data (random bytes: deflate cannot shrink it),
//                                 and some 780 files that repeat another byte for byte
//   bench-corpus debian DIR       real files that Debian packages install: /usr/share/doc and the
//                                 libLLVM-*.so.1 libraries under /usr/lib (about 335 MiB in about
//                                 5,000 files on a Debian 12 machine with Wine), each real file
//                                 copied once; the files that repeat others there stay repeats
//   bench-corpus filler FILE MIB  one file of MIB MiB of random bytes
//
// Prints what it wrote: the number of files and bytes, and how many files repeat an earlier one.
#include "base/BinaryFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
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
    std::uint64_t repeats = 0;
};

void PrintTotals(const Totals& totals, const fs::path& root) {
    std::printf("bench-corpus: %llu files, %llu bytes (%.1f MiB), %llu repeated files, in %s\n",
                static_cast<unsigned long long>(totals.files),
                static_cast<unsigned long long>(totals.bytes),
                static_cast<double>(totals.bytes) / kMiB,
                static_cast<unsigned long long>(totals.repeats), root.string().c_str());
}

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
        ++totals.repeats;
        totals.bytes += fs::file_size(root / to);
    }
    PrintTotals(totals, root);
    return 0;
}

// Copies real files into a tree that Windows can hold, each distinct file once however many
// links lead to it, and counts the copies whose bytes repeat an earlier copy's.
class RealFileCopier {
public:
    explicit RealFileCopier(fs::path root) : root_(std::move(root)) {}

    // Copies the tree at `from` (following links to folders once) to `to`, below the root.
    bool CopyTree(const fs::path& from, const fs::path& to) {
        std::error_code error;
        const fs::path real = fs::canonical(from, error);
        if (error || !visitedFolders_.insert(real).second)
            return true;
        std::vector<fs::path> entries;
        for (const fs::directory_entry& entry : fs::directory_iterator(from, error))
            entries.push_back(entry.path());
        std::sort(entries.begin(), entries.end());
        std::set<std::string> namesHere;
        for (const fs::path& entry : entries) {
            const fs::file_status status = fs::status(entry, error);
            if (error)
                continue; // a dangling link
            if (!TakeName(entry.filename().string(), namesHere)) {
                ++namesLeftOut_;
                continue;
            }
            if (fs::is_directory(status)) {
                if (!CopyTree(entry, to / entry.filename()))
                    return false;
            } else if (fs::is_regular_file(status) && !CopyFile(entry, to / entry.filename())) {
                return false;
            }
        }
        return true;
    }

    // Copies one file (a link's target, under the link's name) unless its target was copied.
    bool CopyFile(const fs::path& from, const fs::path& to) {
        std::error_code error;
        const fs::path real = fs::canonical(from, error);
        if (error || !fs::is_regular_file(real, error) || !copiedFiles_.insert(real).second)
            return true;
        std::vector<unsigned char> bytes;
        base::BinaryFile in;
        const std::int64_t length = in.Open(real.string(), "rb") ? in.Length() : -1;
        if (length >= 0)
            bytes.resize(static_cast<std::size_t>(length));
        if (length < 0 || !in.Seek(0) || !in.ReadExact(bytes.data(), bytes.size())) {
            std::fprintf(stderr, "bench-corpus: cannot read %s\n", real.string().c_str());
            return false;
        }
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        if (!contents_.emplace(bytes.size(), std::hash<std::string_view>{}(text)).second)
            ++totals_.repeats;
        return WriteFile(root_ / to, bytes, totals_);
    }

    const Totals& totals() const { return totals_; }
    std::uint64_t namesLeftOut() const { return namesLeftOut_; }

private:
    // Windows ignores case and cannot hold some names: such a name is left out.
    static bool TakeName(const std::string& name, std::set<std::string>& namesHere) {
        if (name.empty() || name.back() == '.' || name.back() == ' ' ||
            name.find_first_of("<>:\"\\|?*") != std::string::npos)
            return false;
        std::string folded;
        for (char c : name)
            folded += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return namesHere.insert(folded).second;
    }

    fs::path root_;
    std::set<fs::path> visitedFolders_;
    std::set<fs::path> copiedFiles_;
    std::set<std::pair<std::size_t, std::size_t>> contents_; // size and hash of each copy
    Totals totals_;
    std::uint64_t namesLeftOut_ = 0;
};

int CopyDebianFiles(const fs::path& root) {
    if (fs::exists(root)) {
        std::fprintf(stderr, "bench-corpus: %s exists already\n", root.string().c_str());
        return 1;
    }
    RealFileCopier copier(root);
    if (!copier.CopyTree("/usr/share/doc", "doc"))
        return 1;
    // The LLVM libraries, found wherever they are under /usr/lib; most names are links.
    std::vector<fs::path> libraries;
    std::error_code error;
    for (fs::recursive_directory_iterator
             it("/usr/lib", fs::directory_options::skip_permission_denied, error),
         end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.starts_with("libLLVM-") && name.ends_with(".so.1"))
            libraries.push_back(it->path());
    }
    std::sort(libraries.begin(), libraries.end());
    for (const fs::path& library : libraries)
        if (!copier.CopyFile(library, fs::path("llvm") / library.filename()))
            return 1;
    fs::create_directories(root); // an empty corpus is still a folder
    PrintTotals(copier.totals(), root);
    if (copier.namesLeftOut() > 0)
        std::printf(
            "bench-corpus: %llu names left out that Windows cannot hold beside the others\n",
            static_cast<unsigned long long>(copier.namesLeftOut()));
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
    if (args.size() == 2 && args[0] == "debian")
        return CopyDebianFiles(args[1]);
    if (args.size() == 3 && args[0] == "filler") {
        char* end = nullptr;
        const unsigned long long mib = std::strtoull(args[2].c_str(), &end, 10);
        if (*end == '\0' && mib > 0 && mib < 2048)
            return WriteFiller(args[1], mib);
    }
    std::fprintf(stderr, "usage: bench-corpus suite DIR\n"
                         "       bench-corpus debian DIR\n"
                         "       bench-corpus filler FILE MIB   (1 to 2047)\n");
    return 2;
}
