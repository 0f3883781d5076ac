// Points one of the user's shell folders elsewhere for the life of the object, in both places the
// shell keeps it ("User Shell Folders" and its copy in "Shell Folders"), and puts back what was
// there before. Shared by the engine tests and the end-to-end tests.
#pragma once

#include <windows.h>

#include <string>

class ShellFolderOverride {
public:
    ShellFolderOverride(const wchar_t* valueName, const std::wstring& path)
        : user_(kUserShellFolders, valueName, REG_EXPAND_SZ, path),
          copy_(kShellFolders, valueName, REG_SZ, path) {}
    bool Applied() const { return user_.Applied() && copy_.Applied(); }

private:
    static constexpr wchar_t kUserShellFolders[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr wchar_t kShellFolders[] =
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

    // One string value under the current user's key, restored (or removed) on destruction.
    class ValueOverride {
    public:
        ValueOverride(const wchar_t* keyName, const wchar_t* valueName, DWORD type,
                      const std::wstring& text)
            : name_(valueName) {
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, keyName, 0, nullptr, 0,
                                  KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key_,
                                  nullptr) != ERROR_SUCCESS) {
                key_ = nullptr;
                return;
            }
            wchar_t previous[MAX_PATH] = {};
            DWORD size = sizeof previous;
            had_ = ::RegQueryValueExW(key_, valueName, nullptr, &type_,
                                      reinterpret_cast<BYTE*>(previous), &size) == ERROR_SUCCESS;
            previous_.assign(previous, size >= sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
            set_ = Set(type, text);
        }
        ~ValueOverride() {
            if (!key_)
                return;
            if (had_)
                Set(type_, previous_);
            else
                ::RegDeleteValueW(key_, name_);
            ::RegCloseKey(key_);
        }
        ValueOverride(const ValueOverride&) = delete;
        ValueOverride& operator=(const ValueOverride&) = delete;
        bool Applied() const { return set_; }

    private:
        bool Set(DWORD type, const std::wstring& text) const {
            return ::RegSetValueExW(
                       key_, name_, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
        }

        const wchar_t* name_;
        HKEY key_ = nullptr;
        bool had_ = false;
        bool set_ = false;
        DWORD type_ = REG_SZ;
        std::wstring previous_;
    };

    ValueOverride user_;
    ValueOverride copy_;
};
