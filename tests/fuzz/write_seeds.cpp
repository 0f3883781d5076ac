// Writes the seed inputs that come from the project's own ZIP writer and image writer:
//   write_seeds ZIP_SEED_FOLDER IMAGE_SEED_FOLDER
// Small on purpose: the fuzzer mutates them, and they are kept in the repository.
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"
#include "tests/fuzz/PeImage.h"
#include "payload/ZipWriter.h"

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

const std::string kReadme =
    "Torvane Software Suite\r\n\r\nThis folder holds the suite's programs. Run setup again to "
    "repair them; delete the folder to remove them.\r\n";

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return out.good();
}

// A stand-in for a program image: a DOS header start and some code-like bytes.
std::string Stub() {
    std::string stub = "MZ";
    for (int i = 0; i < 254; ++i)
        stub += static_cast<char>(i * 37 + 11);
    return stub;
}

bool WriteArchive(const std::string& path, zip::Compression compression, bool withStub,
                  const std::string& stubPath, bool empty = false) {
    zip::Writer writer;
    bool ok = writer.Create(path) && (!withStub || writer.AppendStub(stubPath));
    if (ok && !empty)
        ok = writer.AddBytes("README.TXT", kReadme, compression) &&
             writer.AddBytes("Drivers/", "", compression) &&
             writer.AddBytes("Drivers/empty.flg", "", compression) &&
             writer.AddBytes("Drivers/table.bin", Stub().substr(2, 48), compression);
    ok = ok && writer.Finish();
    if (!ok)
        std::fprintf(stderr, "write_seeds: %s\n", writer.Error().c_str());
    return ok;
}

std::string Trailer(const std::string& label, std::int32_t length) {
    const image::Trailer trailer = image::MakeTrailer(label, length);
    return std::string(trailer.begin(), trailer.end());
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: write_seeds ZIP_SEED_FOLDER IMAGE_SEED_FOLDER\n");
        return 2;
    }
    const std::string zipFolder = argv[1], imageFolder = argv[2];
    const std::string stubPath = zipFolder + "/.stub.tmp";
    const std::string payloadPath = zipFolder + "/.payload.tmp";
    bool ok =
        WriteFile(stubPath, Stub()) &&
        WriteArchive(zipFolder + "/writer-deflate.zip", zip::Compression::Deflate, false,
                     stubPath) &&
        WriteArchive(zipFolder + "/writer-stored.zip", zip::Compression::Store, false, stubPath) &&
        WriteArchive(zipFolder + "/writer-lzma.zip", zip::Compression::Lzma, false, stubPath) &&
        WriteArchive(zipFolder + "/writer-empty.zip", zip::Compression::Store, false, stubPath,
                     true) &&
        WriteArchive(payloadPath, zip::Compression::Deflate, true, stubPath);
    if (ok) {
        const std::string payload = ReadFile(payloadPath);
        ok = WriteFile(zipFolder + "/writer-stub-trailer.bin",
                       payload + Trailer("v1.0.0", static_cast<std::int32_t>(payload.size())));
    }
    std::string error;
    if (ok && !image::WriteImage(stubPath, payloadPath, "v1.0.0", imageFolder + "/image-writer.exe",
                                 error)) {
        std::fprintf(stderr, "write_seeds: %s\n", error.c_str());
        ok = false;
    }
    // Trailers on their own and around small payloads: edge cases of the label and length.
    const std::string program = Stub().substr(0, 40), payload = "PK-payload";
    std::string sixteen = "0123456789ABCDEF" + Trailer("", 10).substr(16);
    std::string afterZero = Trailer("v1.0.0", 10);
    afterZero.replace(7, 8, "leftover");
    ok = ok && WriteFile(imageFolder + "/trailer-only.bin", Trailer("v1.0.0", 0)) &&
         WriteFile(imageFolder + "/short.bin", Trailer("v1.0.0", 0).substr(1)) &&
         WriteFile(imageFolder + "/label-15.bin",
                   program + payload + Trailer("ABCDEFGHIJKLMNO", 10)) &&
         WriteFile(imageFolder + "/label-16-bytes.bin", program + payload + sixteen) &&
         WriteFile(imageFolder + "/label-leftover.bin", program + payload + afterZero) &&
         WriteFile(imageFolder + "/length-whole-file.bin", payload + Trailer("v2", 10)) &&
         WriteFile(imageFolder + "/length-too-long.bin", program + payload + Trailer("v1", 51)) &&
         WriteFile(imageFolder + "/length-negative.bin", program + payload + Trailer("v1", -1));
    // A signed image: a PE program, payload and trailer, then a certificate table that the
    // security directory entry describes; and one whose entry no longer reaches the file's end.
    const std::string peImage = peimage::MinimalPeProgram() + std::string(2, '\0') + payload +
                                Trailer("v2.1.0", static_cast<std::int32_t>(payload.size()));
    std::string cutTable = peimage::Signed(peImage, 64);
    cutTable.resize(cutTable.size() - 8);
    ok = ok && WriteFile(imageFolder + "/signed.exe", peimage::Signed(peImage, 64)) &&
         WriteFile(imageFolder + "/signed-cut-table.exe", cutTable);
    std::remove(stubPath.c_str());
    std::remove(payloadPath.c_str());
    return ok ? 0 : 1;
}
