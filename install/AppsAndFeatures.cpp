// The Apps & Features entry in the registry. Every key is opened in the registry's default view:
// no KEY_WOW64_* flag. The setup is a 32-bit program, and a 32-bit program's entry belongs in the
// 32-bit view (WOW6432Node on 64-bit Windows), where Windows puts it by default and where Apps &
// Features lists 32-bit programs from.
#include "install/AppsAndFeatures.h"

#include "payload/SuiteContract.h"
#include "win32/Handles.h"
#include "win32/WideText.h"

#include <vector>

namespace {

const std::wstring kEntryPath = std::wstring(kUninstallKey) + L"\\" + kProductEntryName;

// One value as the registry holds it: a string (REG_SZ) or a number (REG_DWORD).
struct EntryValue {
    const wchar_t* name;
    DWORD type;
    std::wstring text;
    DWORD number = 0;
};

// Every value the entry holds, in UTF-16; nothing when a text is not UTF-8.
std::optional<std::vector<EntryValue>> EntryValues(const ProductEntry& entry) {
    std::vector<EntryValue> values;
    bool valid = true;
    const auto text = [&](const wchar_t* name, const std::string& utf8) {
        const std::optional<std::wstring> wide = base::TryWide(utf8);
        valid = valid && wide.has_value();
        if (wide && !wide->empty())
            values.push_back({name, REG_SZ, *wide});
    };
    const auto number = [&](const wchar_t* name, DWORD value) {
        values.push_back({name, REG_DWORD, {}, value});
    };
    text(L"DisplayName", suite::kProductName);
    text(L"DisplayVersion", entry.displayVersion);
    text(L"Publisher", entry.publisher);
    text(L"InstallLocation", entry.installLocation);
    text(L"DisplayIcon", entry.displayIcon);
    text(L"InstallDate", entry.installDate);
    if (entry.estimatedSizeKiB > 0)
        number(L"EstimatedSize", entry.estimatedSizeKiB);
    number(L"NoModify", 1);
    number(L"NoRepair", 1);
    text(L"UninstallString", entry.uninstallString);
    text(L"QuietUninstallString", entry.quietUninstallString);
    if (!valid)
        return std::nullopt;
    return values;
}

// The entry's key below `root`, made when `create` and it is missing; `status` is the
// registry's answer.
ScopedRegistryKey OpenEntry(HKEY root, REGSAM access, bool create, LSTATUS& status) {
    HKEY opened = nullptr;
    status = create ? ::RegCreateKeyExW(root, kEntryPath.c_str(), 0, nullptr,
                                        REG_OPTION_NON_VOLATILE, access, nullptr, &opened, nullptr)
                    : ::RegOpenKeyExW(root, kEntryPath.c_str(), 0, access, &opened);
    return ScopedRegistryKey(status == ERROR_SUCCESS ? opened : nullptr);
}

// The names of every value under `key`.
std::vector<std::wstring> ValueNames(HKEY key) {
    std::vector<std::wstring> names;
    // A value's name is at most 16,383 characters.
    std::wstring name(16384, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        if (::RegEnumValueW(key, index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            return names;
        names.emplace_back(name.data(), length);
    }
}

// Writes every value into the entry below `root`, then removes those it did not write.
LSTATUS WriteEntryIn(HKEY root, const std::vector<EntryValue>& values) {
    LSTATUS status = ERROR_SUCCESS;
    const ScopedRegistryKey key = OpenEntry(root, KEY_QUERY_VALUE | KEY_SET_VALUE, true, status);
    if (!key)
        return status;
    for (const EntryValue& value : values) {
        const bool text = value.type == REG_SZ;
        const auto* bytes = text ? reinterpret_cast<const BYTE*>(value.text.c_str())
                                 : reinterpret_cast<const BYTE*>(&value.number);
        const DWORD size = text ? static_cast<DWORD>((value.text.size() + 1) * sizeof(wchar_t))
                                : static_cast<DWORD>(sizeof value.number);
        status = ::RegSetValueExW(key.Get(), value.name, 0, value.type, bytes, size);
        if (status != ERROR_SUCCESS)
            return status;
    }
    for (const std::wstring& name : ValueNames(key.Get())) {
        bool written = false;
        for (const EntryValue& value : values)
            written = written || base::SameIgnoringCase(name, value.name);
        if (!written && (status = ::RegDeleteValueW(key.Get(), name.c_str())) != ERROR_SUCCESS)
            return status;
    }
    return ERROR_SUCCESS;
}

// A string value in UTF-8; empty when it is missing, of another type or has no UTF-8 form.
std::string ReadText(HKEY key, const wchar_t* name) {
    std::wstring text(64, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        const LSTATUS status =
            ::RegGetValueW(key, nullptr, name, RRF_RT_REG_SZ, nullptr, text.data(), &size);
        if (status == ERROR_MORE_DATA) {
            text.resize(size / sizeof(wchar_t) + 1);
            continue;
        }
        if (status != ERROR_SUCCESS || size < sizeof(wchar_t))
            return {};
        // The size counts the terminating null, which RegGetValueW guarantees.
        text.resize(size / sizeof(wchar_t) - 1);
        return base::TryUtf8(text).value_or(std::string());
    }
}

DWORD ReadNumber(HKEY key, const wchar_t* name) {
    DWORD number = 0, size = sizeof number;
    return ::RegGetValueW(key, nullptr, name, RRF_RT_REG_DWORD, nullptr, &number, &size) ==
                   ERROR_SUCCESS
               ? number
               : 0;
}

// The entry below `root`, when it names its install folder; `status` says why there is none.
std::optional<ProductEntry> ReadEntryIn(HKEY root, LSTATUS& status) {
    const ScopedRegistryKey key = OpenEntry(root, KEY_QUERY_VALUE, false, status);
    if (!key)
        return std::nullopt;
    ProductEntry entry;
    entry.installLocation = ReadText(key.Get(), L"InstallLocation");
    if (entry.installLocation.empty())
        return std::nullopt;
    entry.displayVersion = ReadText(key.Get(), L"DisplayVersion");
    entry.publisher = ReadText(key.Get(), L"Publisher");
    entry.displayIcon = ReadText(key.Get(), L"DisplayIcon");
    entry.installDate = ReadText(key.Get(), L"InstallDate");
    entry.estimatedSizeKiB = ReadNumber(key.Get(), L"EstimatedSize");
    entry.uninstallString = ReadText(key.Get(), L"UninstallString");
    entry.quietUninstallString = ReadText(key.Get(), L"QuietUninstallString");
    return entry;
}

// A folder as it is compared: less one trailing backslash.
std::wstring ComparedFolder(std::wstring folder) {
    if (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return folder;
}

} // namespace

std::optional<RegistryHive> WriteProductEntry(const ProductEntry& entry, DWORD& error,
                                              HKEY machineRoot, HKEY userRoot) {
    const std::optional<std::vector<EntryValue>> values = EntryValues(entry);
    if (!values) {
        error = ERROR_NO_UNICODE_TRANSLATION;
        return std::nullopt;
    }
    if (entry.installLocation.empty() || entry.uninstallString.empty()) {
        error = ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    error = static_cast<DWORD>(WriteEntryIn(machineRoot, *values));
    if (error == ERROR_SUCCESS)
        return RegistryHive::Machine;
    // A run that is not elevated may not write the machine's hive; any other failure there is
    // the machine's trouble, and the user's hive would hide it.
    if (error != ERROR_ACCESS_DENIED)
        return std::nullopt;
    error = static_cast<DWORD>(WriteEntryIn(userRoot, *values));
    if (error == ERROR_SUCCESS)
        return RegistryHive::User;
    return std::nullopt;
}

std::optional<std::pair<ProductEntry, RegistryHive>> ReadProductEntry(HKEY machineRoot,
                                                                      HKEY userRoot) {
    LSTATUS status = ERROR_SUCCESS;
    if (std::optional<ProductEntry> entry = ReadEntryIn(machineRoot, status))
        return std::make_pair(std::move(*entry), RegistryHive::Machine);
    if (std::optional<ProductEntry> entry = ReadEntryIn(userRoot, status))
        return std::make_pair(std::move(*entry), RegistryHive::User);
    return std::nullopt;
}

bool DeleteProductEntry(const std::string& installFolder, HKEY machineRoot, HKEY userRoot) {
    const std::optional<std::wstring> folder = base::TryWide(installFolder);
    if (!folder || folder->empty())
        return false;
    bool noneRemains = true;
    for (HKEY root : {machineRoot, userRoot}) {
        LSTATUS status = ERROR_SUCCESS;
        const std::optional<ProductEntry> entry = ReadEntryIn(root, status);
        // An entry that cannot be read may be this folder's.
        if (!entry && status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND)
            noneRemains = false;
        if (!entry || !base::SameIgnoringCase(ComparedFolder(base::Wide(entry->installLocation)),
                                              ComparedFolder(*folder)))
            continue;
        if (::RegDeleteTreeW(root, kEntryPath.c_str()) != ERROR_SUCCESS)
            noneRemains = false;
    }
    return noneRemains;
}
