// Writing an image under a temporary name: an object of its own, since the rename needs the
// standard file system library, which the setup program (it only reads images) must not link.
#include "base/PendingOutput.h"
#include "image/ImageFile.h"
#include "image/ImageTrailer.h"

namespace image {

bool WriteImage(const std::string& programPath, const std::string& payloadPath,
                std::string_view label, const std::string& outPath, std::string& error) {
    if (std::string why = CheckLabel(label); !why.empty()) {
        error = why;
        return false;
    }
    base::PendingOutput output(outPath);
    return WriteImageParts(programPath, payloadPath, label, output.path(), error) &&
           output.Commit(error);
}

} // namespace image
