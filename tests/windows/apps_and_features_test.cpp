// The Apps & Features entry against the registry of the test's prefix, under scratch keys that
// stand for the machine's and the user's hives.
#include "TestSupport.h"
#include "install/AppsAndFeatures.h"
#include "win32/WideText.h"

#include <sddl.h>

#include <atomic>
#include <cstring>
#include <map>
#include <stdexcept>

using namespace enginetest;

namespace {

constexpr wchar_t kEntryPath[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TorvaneSoftwareSuite";

// A key opened or created below a root; closed at the end.
struct Key {
    Key(HKEY root, const std::wstring& path, REGSAM access = KEY_ALL_ACCESS) {
        HKEY opened = nullptr;
        status =
            ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, access, nullptr, &opened, nullptr);
        handle.Reset(status == ERROR_SUCCESS ? opened : nullptr);
    }
    LSTATUS status;
    ScopedRegistryKey handle;
};

// One value as the registry holds it.
struct StoredValue {
    DWORD type = REG_NONE;
    std::wstring text;
    DWORD number = 0;
    bool operator==(const StoredValue&) const = default;
};
void PrintTo(const StoredValue& value, std::ostream* out) {
    *out << "{type " << value.type << ", \"" << base::Utf8(value.text) << "\", " << value.number
         << "}";
}

StoredValue Text(const std::wstring& text) {
    return {REG_SZ, text, 0};
}
StoredValue Number(DWORD number) {
    return {REG_DWORD, {}, number};
}

// Scratch keys for one test: "Machine" and "User" below a key of its own in the test's user
// hive, removed with everything below them at the end.
class AppsAndFeaturesTest : public testing::Test {
protected:
    AppsAndFeaturesTest() {
        if (!machine_.handle || !user_.handle)
            throw std::runtime_error("cannot create the scratch keys");
    }
    ~AppsAndFeaturesTest() override {
        machine_.handle.Reset();
        user_.handle.Reset();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, scratch_.c_str());
        // Their parent goes with the last test's keys.
        ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Torvane Engine Tests");
    }

    HKEY Machine() const { return machine_.handle.Get(); }
    HKEY User() const { return user_.handle.Get(); }

    // Every value of the entry below `root`, by name.
    static std::map<std::wstring, StoredValue> EntryValues(HKEY root) {
        std::map<std::wstring, StoredValue> values;
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(root, kEntryPath, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return values;
        const ScopedRegistryKey entry(opened);
        for (DWORD index = 0;; ++index) {
            wchar_t name[256];
            BYTE data[2048] = {};
            DWORD nameLength = 256, type = 0, size = sizeof data - sizeof(wchar_t);
            if (::RegEnumValueW(entry.Get(), index, name, &nameLength, nullptr, &type, data,
                                &size) != ERROR_SUCCESS)
                return values;
            StoredValue& value = values[std::wstring(name, nameLength)];
            value.type = type;
            if (type == REG_DWORD && size == sizeof(DWORD))
                std::memcpy(&value.number, data, sizeof(DWORD));
            else
                value.text.assign(reinterpret_cast<const wchar_t*>(data),
                                  size / sizeof(wchar_t) - (size >= sizeof(wchar_t)));
        }
    }

    static int SubkeyCount(HKEY root, const wchar_t* path) {
        HKEY opened = nullptr;
        if (::RegOpenKeyExW(root, path, 0, KEY_READ, &opened) != ERROR_SUCCESS)
            return -1;
        const ScopedRegistryKey key(opened);
        DWORD subkeys = 0;
        ::RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr);
        return static_cast<int>(subkeys);
    }

    static ProductEntry FullEntry() {
        return {.displayVersion = "2.1.0",
                .publisher = "Farrow Systems",
                .installLocation = "C:\\Программы\\Torvane",
                .displayIcon = "C:\\Программы\\Torvane\\Torvane.exe,0",
                .installDate = "20261210",
                .estimatedSizeKiB = 48213,
                .uninstallString = "\"C:\\Программы\\Torvane\\uninstall.exe\"",
                .quietUninstallString = "\"C:\\Программы\\Torvane\\uninstall.exe\" /S"};
    }

private:
    // A fresh key name for this test; anything a killed run left there goes first.
    static std::wstring NewScratchKey() {
        static std::atomic<int> counter{0};
        const std::wstring name = L"Software\\Torvane Engine Tests\\" +
                                  std::to_wstring(::GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(counter++);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, name.c_str());
        return name;
    }

    std::wstring scratch_ = NewScratchKey();
    Key machine_{HKEY_CURRENT_USER, scratch_ + L"\\Machine"};
    Key user_{HKEY_CURRENT_USER, scratch_ + L"\\User"};
};

TEST_F(AppsAndFeaturesTest, EveryValueIsWrittenWithItsTypeAndReadBack) {
    DWORD error = 12345;
    EXPECT_EQ(WriteProductEntry(FullEntry(), error, Machine(), User()), RegistryHive::Machine);
    EXPECT_EQ(error, 0u);

    const std::wstring folder = L"C:\\Программы\\Torvane";
    EXPECT_EQ(EntryValues(Machine()),
              (std::map<std::wstring, StoredValue>{
                  {L"DisplayName", Text(L"Torvane Software Suite")},
                  {L"DisplayVersion", Text(L"2.1.0")},
                  {L"Publisher", Text(L"Farrow Systems")},
                  {L"InstallLocation", Text(folder)},
                  {L"DisplayIcon", Text(folder + L"\\Torvane.exe,0")},
                  {L"InstallDate", Text(L"20261210")},
                  {L"EstimatedSize", Number(48213)},
                  {L"NoModify", Number(1)},
                  {L"NoRepair", Number(1)},
                  {L"UninstallString", Text(L"\"" + folder + L"\\uninstall.exe\"")},
                  {L"QuietUninstallString", Text(L"\"" + folder + L"\\uninstall.exe\" /S")},
              }));
    EXPECT_EQ(SubkeyCount(User(), L"Software"), -1) << "the user's hive was written too";

    const auto found = ReadProductEntry(Machine(), User());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->second, RegistryHive::Machine);
    EXPECT_EQ(found->first, FullEntry());
}

// A run that is not elevated: the machine's entry key exists, and only reading it is granted.
TEST_F(AppsAndFeaturesTest, AMachineHiveThatRefusesWritingFallsBackToTheUsersHive) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    // Everyone may read it, and delete it at the end; nobody may set a value. Set on the key once
    // made: Wine 8 ignores a descriptor handed to RegCreateKeyEx.
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:P(A;;KRSD;;;WD)", SDDL_REVISION_1, &descriptor, nullptr));
    const ScopedLocalMemory descriptorOwner(descriptor);
    ASSERT_EQ(::RegSetKeySecurity(Key(Machine(), kEntryPath).handle.Get(),
                                  DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
    ASSERT_EQ(Key(Machine(), kEntryPath, KEY_SET_VALUE).status, ERROR_ACCESS_DENIED)
        << "this registry does not refuse writing a key that grants reading only";

    DWORD error = 0;
    EXPECT_EQ(WriteProductEntry(FullEntry(), error, Machine(), User()), RegistryHive::User);
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(EntryValues(User()).size(), 11u);
    EXPECT_TRUE(EntryValues(Machine()).empty());

    // The machine's key names no install: the user's entry is the one registered.
    const auto found = ReadProductEntry(Machine(), User());
    ASSERT_TRUE(found);
    EXPECT_EQ(found->second, RegistryHive::User);
    EXPECT_EQ(found->first, FullEntry());
}

TEST_F(AppsAndFeaturesTest, ARewriteRemovesStaleValuesAndKeepsOneKey) {
    DWORD error = 0;
    ASSERT_EQ(WriteProductEntry(FullEntry(), error, Machine(), User()), RegistryHive::Machine);
    // A value some older setup wrote, in another case of its name.
    {
        Key entry(Machine(), kEntryPath);
        const wchar_t comments[] = L"from 1.4";
        ASSERT_EQ(::RegSetValueExW(entry.handle.Get(), L"comments", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(comments), sizeof comments),
                  ERROR_SUCCESS);
    }

    ProductEntry upgrade = FullEntry();
    upgrade.displayVersion = "2.2.0";
    upgrade.publisher.clear();
    upgrade.estimatedSizeKiB = 0;
    EXPECT_EQ(WriteProductEntry(upgrade, error, Machine(), User()), RegistryHive::Machine);

    const std::map<std::wstring, StoredValue> values = EntryValues(Machine());
    EXPECT_EQ(values.size(), 9u);
    EXPECT_EQ(values.at(L"DisplayVersion"), Text(L"2.2.0"));
    for (const wchar_t* gone : {L"comments", L"Publisher", L"EstimatedSize"})
        EXPECT_EQ(values.count(gone), 0u) << base::Utf8(gone);
    EXPECT_EQ(SubkeyCount(Machine(), L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"),
              1);
}

TEST_F(AppsAndFeaturesTest, AnEntryThatCannotBeWholeIsNotWritten) {
    const auto entry = [](const char* location, const char* uninstall, const char* publisher) {
        ProductEntry made;
        made.installLocation = location;
        made.uninstallString = uninstall;
        made.publisher = publisher;
        return made;
    };
    const struct {
        const char* what;
        ProductEntry entry;
        DWORD error;
    } cases[] = {
        {"no location", entry("", "\"C:\\T\\uninstall.exe\"", ""), ERROR_INVALID_PARAMETER},
        {"no uninstaller", entry("C:\\T", "", ""), ERROR_INVALID_PARAMETER},
        {"not UTF-8", entry("C:\\T", "\"u.exe\"", "Farrow \xC3"), ERROR_NO_UNICODE_TRANSLATION},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DWORD error = 0;
        EXPECT_EQ(WriteProductEntry(c.entry, error, Machine(), User()), std::nullopt);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(SubkeyCount(Machine(), L"Software"), -1);
        EXPECT_EQ(SubkeyCount(User(), L"Software"), -1);
    }
}

TEST_F(AppsAndFeaturesTest, AnEntryWithoutItsLocationIsNone) {
    EXPECT_EQ(ReadProductEntry(Machine(), User()), std::nullopt);
    {
        // A location of the wrong type is no location.
        Key entry(Machine(), kEntryPath);
        const DWORD number = 7;
        ASSERT_EQ(::RegSetValueExW(entry.handle.Get(), L"InstallLocation", 0, REG_DWORD,
                                   reinterpret_cast<const BYTE*>(&number), sizeof number),
                  ERROR_SUCCESS);
    }
    EXPECT_EQ(ReadProductEntry(Machine(), User()), std::nullopt);
}

TEST_F(AppsAndFeaturesTest, DeleteRemovesOnlyTheEntryOfTheFolder) {
    DWORD error = 0;
    ProductEntry machineEntry = FullEntry(), userEntry = FullEntry();
    machineEntry.installLocation = "C:\\Program Files\\Torvane";
    userEntry.installLocation = "D:\\Torvane";
    ASSERT_EQ(WriteProductEntry(machineEntry, error, Machine(), User()), RegistryHive::Machine);
    ASSERT_EQ(WriteProductEntry(userEntry, error, User(), User()), RegistryHive::Machine);

    EXPECT_TRUE(DeleteProductEntry("c:\\program files\\TORVANE\\", Machine(), User()));
    EXPECT_TRUE(EntryValues(Machine()).empty());
    EXPECT_EQ(EntryValues(User()).at(L"InstallLocation"), Text(L"D:\\Torvane"));

    // Another folder, or one that only begins like it, deletes nothing.
    for (const char* other : {"C:\\Program Files\\Torvane", "D:\\Torvane\\Old", "D:\\Torvan"})
        EXPECT_TRUE(DeleteProductEntry(other, Machine(), User())) << other;
    EXPECT_EQ(EntryValues(User()).size(), 11u);

    EXPECT_TRUE(DeleteProductEntry("D:\\Torvane", Machine(), User()));
    EXPECT_EQ(ReadProductEntry(Machine(), User()), std::nullopt);
    EXPECT_FALSE(DeleteProductEntry("", Machine(), User()));
}

} // namespace
