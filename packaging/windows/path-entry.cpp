// path-entry - adds a folder to the machine's PATH, or removes it, for the installer.
//
// NSIS strings end at NSIS_MAX_STRLEN (1,024 characters in Debian's makensis), and a longer
// PATH read into one comes back empty: written back, the machine's PATH would be lost. This
// program reads the value with the registry API, whatever its length, and changes nothing but
// the one entry: the registry type (REG_EXPAND_SZ or REG_SZ), unexpanded entries such as
// %SystemRoot%\system32, empty entries, their order and the bytes after the text stay as they
// were. Where it cannot do that safely it writes nothing and says why.
//
// Usage: path-entry add|remove FOLDER
// Prints one line saying what it did. Exit status: 0 done (or nothing to do), 1 PATH left as it
// was (the reason is printed), 2 bad usage.

#include <cstdio>
#include <cwctype>
#include <string>
#include <vector>
#include <windows.h>

namespace {

const wchar_t environmentKey[]
    = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t valueName[] = L"Path";
// The longest value an environment variable can take; a longer PATH breaks every program.
constexpr size_t longestPath = 32767 - 1;

// Windows compares file names without regard to case.
bool sameFolder(const std::wstring &a, const std::wstring &b)
{
    return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE)
        == CSTR_EQUAL;
}

// An empty value has no entries; otherwise every ';' separates two, empty ones included, so
// that joining them again gives the very same text.
std::vector<std::wstring> entriesOf(const std::wstring &text)
{
    std::vector<std::wstring> entries;
    if (text.empty())
        return entries;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(L';', start);
        entries.push_back(text.substr(start, end - start));
        if (end == std::wstring::npos)
            return entries;
        start = end + 1;
    }
}

std::wstring joined(const std::vector<std::wstring> &entries)
{
    std::wstring text;
    for (size_t i = 0; i < entries.size(); ++i)
        text += (i ? L";" : L"") + entries[i];
    return text;
}

std::wstring systemMessage(LSTATUS code)
{
    wchar_t *text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(code), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring message(text ? text : L"", length);
    LocalFree(text);
    while (!message.empty() && iswspace(message.back()))
        message.pop_back();
    return message + L" (error " + std::to_wstring(code) + L")";
}

int leftAsItWas(const std::wstring &why)
{
    wprintf(L"The machine's PATH was left as it was: %ls\n", why.c_str());
    return 1;
}

// The value as stored: its type, its bytes, and whether there is one.
struct StoredValue
{
    bool exists = false;
    DWORD type = REG_NONE;
    std::vector<BYTE> bytes;
};

LSTATUS readValue(HKEY key, StoredValue &value)
{
    DWORD size = 0;
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, &value.type, nullptr, &size);
    // The value may grow between the two calls: ask again with the size the second one gives.
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        value.bytes.resize(size);
        status = RegQueryValueExW(key, valueName, nullptr, &value.type, value.bytes.data(), &size);
        if (status == ERROR_SUCCESS) {
            value.bytes.resize(size);
            value.exists = true;
            return status;
        }
    }
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

} // namespace

int wmain(int argc, wchar_t **argv)
{
    const bool add = argc == 3 && std::wstring(argv[1]) == L"add";
    const bool remove = argc == 3 && std::wstring(argv[1]) == L"remove";
    if ((!add && !remove) || !*argv[2]) {
        fwprintf(stderr, L"usage: path-entry add|remove FOLDER\n");
        return 2;
    }
    const std::wstring folder = argv[2];

    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, environmentKey, 0,
                                   KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, &key);
    if (status != ERROR_SUCCESS)
        return leftAsItWas(L"cannot open the environment key: " + systemMessage(status));
    StoredValue stored;
    status = readValue(key, stored);
    if (status != ERROR_SUCCESS) {
        RegCloseKey(key);
        return leftAsItWas(L"cannot read it: " + systemMessage(status));
    }
    if (stored.exists && stored.type != REG_EXPAND_SZ && stored.type != REG_SZ) {
        RegCloseKey(key);
        return leftAsItWas(L"it is not text (registry type " + std::to_wstring(stored.type) + L")");
    }
    if (stored.bytes.size() % sizeof(wchar_t)) {
        RegCloseKey(key);
        return leftAsItWas(L"its stored length is an odd number of bytes");
    }

    // The text runs to the first NUL; what follows (the terminating NUL, as a rule) is kept.
    const std::wstring all(reinterpret_cast<const wchar_t *>(stored.bytes.data()),
                           stored.bytes.size() / sizeof(wchar_t));
    const size_t nul = all.find(L'\0');
    const std::wstring text = all.substr(0, nul);
    const std::wstring tail = nul == std::wstring::npos ? std::wstring() : all.substr(nul);

    std::vector<std::wstring> entries = entriesOf(text);
    const auto isFolder
        = [&folder](const std::wstring &entry) { return sameFolder(entry, folder); };
    const size_t before = entries.size();
    if (add) {
        for (const std::wstring &entry : entries) {
            if (isFolder(entry)) {
                RegCloseKey(key);
                wprintf(L"%ls is on the machine's PATH already.\n", folder.c_str());
                return 0;
            }
        }
        entries.push_back(folder);
    } else {
        std::vector<std::wstring> kept;
        for (const std::wstring &entry : entries) {
            if (!isFolder(entry))
                kept.push_back(entry);
        }
        entries.swap(kept);
        if (entries.size() == before) {
            RegCloseKey(key);
            wprintf(L"%ls was not on the machine's PATH.\n", folder.c_str());
            return 0;
        }
    }
    const std::wstring newText = joined(entries);
    if (newText.size() > longestPath) {
        RegCloseKey(key);
        return leftAsItWas(L"with " + folder + L" it would be longer than Windows allows ("
                           + std::to_wstring(newText.size()) + L" characters)");
    }

    // A missing PATH is made as Windows makes it, expandable and NUL-terminated.
    const DWORD type = stored.exists ? stored.type : REG_EXPAND_SZ;
    const std::wstring newValue = newText + (stored.exists ? tail : std::wstring(1, L'\0'));
    status
        = RegSetValueExW(key, valueName, 0, type, reinterpret_cast<const BYTE *>(newValue.data()),
                         DWORD(newValue.size() * sizeof(wchar_t)));
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return leftAsItWas(L"cannot write it: " + systemMessage(status));

    // Explorer, and what it starts next, see the new PATH without a new logon.
    DWORD_PTR result = 0;
    SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, 0,
                        reinterpret_cast<LPARAM>(L"Environment"), SMTO_ABORTIFHUNG, 5000, &result);
    wprintf(add ? L"Added %ls to the machine's PATH.\n" : L"Removed %ls from the machine's PATH.\n",
            folder.c_str());
    return 0;
}
