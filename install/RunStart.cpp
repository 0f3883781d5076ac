#include "install/RunStart.h"

#include "base/BinaryFile.h"
#include "image/ImageFile.h"
#include "image/VersionResource.h"
#include "install/AppsAndFeatures.h"
#include "install/InstallTexts.h"
#include "install/PathRules.h"
#include "payload/SuiteContract.h"
#include "win32/WideText.h"

#include <optional>
#include <vector>

namespace {

// The typed text in UTF-8, an unpaired surrogate (which no character is) kept as the three bytes
// UTF-8 would give it: no UTF-8 reader takes those, so state 10 refuses the text instead of
// installing into a folder named with a replacement character.
std::string TypedText(std::wstring_view typed) {
    if (std::optional<std::string> exact = base::TryUtf8(typed))
        return *std::move(exact);
    std::string text;
    for (size_t at = 0; at < typed.size(); ++at) {
        const unsigned unit = typed[at];
        const bool pair = unit >= 0xD800 && unit <= 0xDBFF && at + 1 < typed.size() &&
                          typed[at + 1] >= 0xDC00 && typed[at + 1] <= 0xDFFF;
        if (unit < 0xD800 || unit > 0xDFFF || pair) {
            text += base::Utf8(typed.substr(at, pair ? 2 : 1));
            at += pair ? 1 : 0;
            continue;
        }
        text += static_cast<char>(0xE0 | (unit >> 12));
        text += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
        text += static_cast<char>(0x80 | (unit & 0x3F));
    }
    return text;
}

} // namespace

std::string OwnModulePath() {
    std::vector<wchar_t> path(32768);
    const DWORD length =
        ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    return base::Utf8({path.data(), length < path.size() ? length : 0});
}

std::wstring DefaultInstallFolder() {
    const auto registered = ReadProductEntry();
    if (registered)
        if (std::optional<std::wstring> folder = base::TryWide(registered->first.installLocation))
            return *folder;
    return base::Wide(suite::kDefaultInstallFolder);
}

namespace {

// The CompanyName of the program's version resource (pack image --publisher stamps it): read
// from the image's program part, which is the setup itself; empty when there is none.
std::string Publisher(const std::string& modulePath, std::int64_t programLength) {
    base::BinaryFile image;
    if (!image.Open(modulePath, "rb"))
        return {};
    const std::optional<image::VersionResource> resource =
        image::ReadVersionResource(image, programLength);
    const image::VersionResource::Text* company =
        resource ? resource->Find(image::kCompanyNameKey) : nullptr;
    return company ? image::Utf8OfUtf16(company->value) : std::string();
}

} // namespace

InstallSettings MakeInstallSettings(const std::string& modulePath, std::wstring_view folderText,
                                    int createDesktopIcons, bool commonShortcutFolders,
                                    bool allowDowngrade) {
    // The label the image carries is the version the record and Apps & Features will show.
    image::ImageLayout layout;
    std::string ignored;
    const bool labelled = image::ReadImageLayout(modulePath, layout, ignored) && layout.trailerFits;
    InstallSettings settings;
    settings.modulePath = modulePath;
    settings.archiveBaseName = suite::kArchiveBaseName;
    settings.installFolder = paths::TrimInstallFolder(TypedText(folderText));
    settings.createDesktopIcons = createDesktopIcons;
    settings.commonShortcutFolders = commonShortcutFolders;
    settings.label = labelled ? layout.label : std::string();
    settings.publisher = labelled ? Publisher(modulePath, layout.payloadOffset) : std::string();
    settings.allowDowngrade = allowDowngrade;
    return settings;
}

PreparedRun::PreparedRun() {
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
}

RunChoices ChoicesOf(const setup::CommandLine& options) {
    return {options.installFolder.empty() ? DefaultInstallFolder() : options.installFolder,
            options.noDesktop ? 0 : 1};
}

bool StartRun(InstallEngine& engine, IInstallView& view, const InstallSettings& settings) {
    if (!engine.Start(settings))
        return false;
    view.AddMessage(settings.uninstall ? texts::UninstallLine(settings.installFolder)
                                       : texts::InstallLine(settings.installFolder),
                    kColorSummary);
    return true;
}
