// The resources built into updater.exe, read byte by byte from the real program: the two
// progress dialogs the code creates by id, the manifest the loader reads before the program
// starts, the icon Explorer shows and the version block of the file's properties.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr WORD Japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

// Resource types by number: the RT_ names expand to narrow strings in a build without UNICODE.
enum ResourceType : WORD { Icon = 3, Dialog = 5, GroupIcon = 14, Version = 16, Manifest = 24 };

// <build>/tests/win/resources_test.exe -> <build>/updater.exe
fs::path UpdaterProgram() {
    std::wstring self(32768, L'\0');
    self.resize(GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
    return fs::path(self).parent_path().parent_path().parent_path() / "updater.exe";
}

// Mapped once, as resources only: nothing of the program runs.
HMODULE Updater() {
    struct Loaded {
        HMODULE module = nullptr;
        Loaded() {
            module = LoadLibraryExW(UpdaterProgram().c_str(), nullptr,
                                    LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
        }
        ~Loaded() {
            if (module) FreeLibrary(module);
        }
    };
    static Loaded loaded;
    return loaded.module;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), size,
                        nullptr, nullptr);
    return result;
}

// Every language a resource is stored under. FindResourceExW falls back to other languages,
// so only this tells where the resource really is.
std::vector<WORD> LanguagesOf(ResourceType type, WORD id) {
    std::vector<WORD> languages;
    EnumResourceLanguagesW(
        Updater(), MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id),
        [](HMODULE, LPCWSTR, LPCWSTR, WORD language, LONG_PTR list) -> BOOL {
            reinterpret_cast<std::vector<WORD>*>(list)->push_back(language);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&languages));
    return languages;
}

// The numeric ids of a resource type, in the order the system enumerates them.
std::vector<WORD> IdsOf(ResourceType type) {
    std::vector<WORD> ids;
    EnumResourceNamesW(
        Updater(), MAKEINTRESOURCEW(type),
        [](HMODULE, LPCWSTR, LPWSTR name, LONG_PTR list) -> BOOL {
            auto& ids = *reinterpret_cast<std::vector<WORD>*>(list);
            ids.push_back(IS_INTRESOURCE(name) ? LOWORD(reinterpret_cast<ULONG_PTR>(name)) : 0);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&ids));
    return ids;
}

// The resource's bytes under exactly that language; empty when it is not there.
Bytes ResourceBytes(ResourceType type, WORD id, WORD language) {
    HRSRC found =
        FindResourceExW(Updater(), MAKEINTRESOURCEW(type), MAKEINTRESOURCEW(id), language);
    if (!found) return {};
    const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(Updater(), found)));
    if (!data) return {};
    return Bytes(data, data + SizeofResource(Updater(), found));
}

// Little-endian fields of a resource, in order. Reading past the end yields zeros and marks the
// reader as failed, so a truncated resource shows as a failure instead of a crash.
class Reader {
public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}

    bool ok() const { return ok_; }
    size_t offset() const { return offset_; }

    template <typename T>
    T Get() {
        T value{};
        if (!ok_ || bytes_.size() - offset_ < sizeof(T)) {
            ok_ = false;
            return value;
        }
        std::memcpy(&value, bytes_.data() + offset_, sizeof(T));
        offset_ += sizeof(T);
        return value;
    }

    // A zero-terminated UTF-16 string.
    std::wstring String() {
        std::wstring text;
        while (ok_) {
            const wchar_t unit = Get<wchar_t>();
            if (unit == 0) break;
            text.push_back(unit);
        }
        return text;
    }

    // Offsets count from the start of the resource, which the system keeps DWORD aligned.
    void Align(size_t boundary) {
        offset_ = (offset_ + boundary - 1) / boundary * boundary;
        if (offset_ > bytes_.size()) {
            offset_ = bytes_.size();
            ok_ = false;
        }
    }

    void Skip(size_t count) {
        if (bytes_.size() - offset_ < count) ok_ = false;
        offset_ = std::min(offset_ + count, bytes_.size());
    }

private:
    const Bytes& bytes_;
    size_t offset_ = 0;
    bool ok_ = true;
};

// ---------------------------------------------------------------------------------------------
// Dialog templates

// A menu, class or item text of a template: 0xFFFF and an ordinal, or a string (0x0000 alone
// being the empty one). Described as text so that a failure shows both forms plainly.
std::string Ordinal(WORD value) {
    char text[32];
    std::snprintf(text, sizeof(text), "ordinal 0x%04X", value);
    return text;
}

std::string Text(const std::wstring& text) {
    return "string \"" + Utf8(text) + "\"";
}

std::string ReadNameOrOrdinal(Reader& reader) {
    const WORD first = reader.Get<WORD>();
    if (first == 0xFFFF) return Ordinal(reader.Get<WORD>());
    std::wstring text;
    for (wchar_t unit = static_cast<wchar_t>(first); unit != 0 && reader.ok();
         unit = reader.Get<wchar_t>()) {
        text.push_back(unit);
    }
    return Text(text);
}

// Styles and version numbers read best in hexadecimal when a comparison fails.
std::string Hex(DWORD value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(value));
    return text;
}

struct DialogItem {
    DWORD helpId = 0, exStyle = 0, style = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    DWORD id = 0;
    std::string windowClass, text;
    WORD extraCount = 0;
};

struct DialogTemplate {
    WORD version = 0, signature = 0;
    DWORD helpId = 0, exStyle = 0, style = 0;
    WORD itemCount = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, windowClass;
    std::wstring title;
    bool hasFont = false;
    WORD pointSize = 0, weight = 0;
    BYTE italic = 0, charset = 0;
    std::wstring typeface;
    std::vector<DialogItem> items;
    size_t end = 0;  // offset just past the last item
    bool complete = false;
};

// DLGTEMPLATEEX followed by its DLGITEMTEMPLATEEX items, each starting on a DWORD boundary.
DialogTemplate ParseDialog(const Bytes& bytes) {
    DialogTemplate dialog;
    Reader reader(bytes);
    dialog.version = reader.Get<WORD>();
    dialog.signature = reader.Get<WORD>();
    if (dialog.version != 1 || dialog.signature != 0xFFFF) return dialog;  // not the extended form
    dialog.helpId = reader.Get<DWORD>();
    dialog.exStyle = reader.Get<DWORD>();
    dialog.style = reader.Get<DWORD>();
    dialog.itemCount = reader.Get<WORD>();
    dialog.x = reader.Get<short>();
    dialog.y = reader.Get<short>();
    dialog.cx = reader.Get<short>();
    dialog.cy = reader.Get<short>();
    dialog.menu = ReadNameOrOrdinal(reader);
    dialog.windowClass = ReadNameOrOrdinal(reader);
    dialog.title = reader.String();
    dialog.hasFont = (dialog.style & DS_SETFONT) != 0;
    if (dialog.hasFont) {
        dialog.pointSize = reader.Get<WORD>();
        dialog.weight = reader.Get<WORD>();
        dialog.italic = reader.Get<BYTE>();
        dialog.charset = reader.Get<BYTE>();
        dialog.typeface = reader.String();
    }
    for (WORD i = 0; i < dialog.itemCount && reader.ok(); ++i) {
        reader.Align(4);
        DialogItem item;
        item.helpId = reader.Get<DWORD>();
        item.exStyle = reader.Get<DWORD>();
        item.style = reader.Get<DWORD>();
        item.x = reader.Get<short>();
        item.y = reader.Get<short>();
        item.cx = reader.Get<short>();
        item.cy = reader.Get<short>();
        item.id = reader.Get<DWORD>();
        item.windowClass = ReadNameOrOrdinal(reader);
        item.text = ReadNameOrOrdinal(reader);
        item.extraCount = reader.Get<WORD>();
        reader.Skip(item.extraCount);
        if (reader.ok()) dialog.items.push_back(item);
    }
    dialog.end = reader.offset();
    dialog.complete = reader.ok();
    return dialog;
}

struct ExpectedItem {
    DWORD id;
    std::string windowClass;
    short x, y, cx, cy;
    DWORD style, exStyle;
};

struct DialogCase {
    const char* name;
    WORD id;
    const wchar_t* typeface;
    BYTE charset;
    const wchar_t* buttonText;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const DialogCase& c, std::ostream* out) {
    *out << c.name << " (" << c.id << ")";
}

class ProgressDialog : public ::testing::TestWithParam<DialogCase> {};

TEST_P(ProgressDialog, TemplateIsStoredAndLaidOutAsTheDialogCodeExpects) {
    const DialogCase& c = GetParam();
    ASSERT_NE(Updater(), nullptr) << "cannot load " << UpdaterProgram();

    // Both languages' templates live under Japanese; the code picks them by id alone.
    EXPECT_EQ(LanguagesOf(Dialog, c.id), std::vector<WORD>{Japanese});
    const Bytes bytes = ResourceBytes(Dialog, c.id, Japanese);
    ASSERT_FALSE(bytes.empty()) << "no dialog " << c.id << " under language 0x0411";

    const DialogTemplate dialog = ParseDialog(bytes);
    ASSERT_EQ(dialog.version, 1);
    ASSERT_EQ(dialog.signature, 0xFFFF);
    EXPECT_TRUE(dialog.complete) << "template ends inside its own fields";
    EXPECT_EQ(dialog.helpId, 0u);
    EXPECT_EQ(Hex(dialog.exStyle), Hex(0));
    // WS_POPUP | WS_CAPTION | DS_MODALFRAME | DS_SETFONT: no system menu, so no close box.
    EXPECT_EQ(Hex(dialog.style), Hex(0x80C000C0));
    EXPECT_EQ(dialog.x, 0);
    EXPECT_EQ(dialog.y, 0);
    EXPECT_EQ(dialog.cx, 271);
    EXPECT_EQ(dialog.cy, 109);
    EXPECT_EQ(dialog.menu, Text(L""));
    EXPECT_EQ(dialog.windowClass, Text(L""));
    EXPECT_EQ(dialog.title, L"");
    ASSERT_TRUE(dialog.hasFont);
    EXPECT_EQ(dialog.pointSize, 9);
    EXPECT_EQ(dialog.weight, 400);
    EXPECT_EQ(dialog.italic, 0);
    EXPECT_EQ(dialog.charset, c.charset);
    EXPECT_EQ(dialog.typeface, c.typeface);

    // Listed in tab order: the button comes first so that it gets the focus.
    const ExpectedItem expected[] = {
        {1000, Ordinal(0x0080), 110, 88, 51, 14, 0x50010000, 0},
        {1001, Ordinal(0x0082), 7, 7, 257, 14, 0x50020201, WS_EX_STATICEDGE},
        {1002, Text(L"msctls_progress32"), 7, 33, 257, 16, 0x50800001, 0},
        {1003, Text(L"msctls_progress32"), 7, 59, 257, 16, 0x50800001, 0},
    };
    EXPECT_EQ(dialog.itemCount, 4);
    ASSERT_EQ(dialog.items.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const DialogItem& item = dialog.items[i];
        const ExpectedItem& want = expected[i];
        SCOPED_TRACE(testing::Message() << "item " << i << " (control " << want.id << ")");
        EXPECT_EQ(item.id, want.id);
        EXPECT_EQ(item.windowClass, want.windowClass);
        EXPECT_EQ(item.x, want.x);
        EXPECT_EQ(item.y, want.y);
        EXPECT_EQ(item.cx, want.cx);
        EXPECT_EQ(item.cy, want.cy);
        EXPECT_EQ(Hex(item.style), Hex(want.style));
        EXPECT_EQ(Hex(item.exStyle), Hex(want.exStyle));
        EXPECT_EQ(item.helpId, 0u);
        EXPECT_EQ(item.text, Text(i == 0 ? c.buttonText : L""));
        EXPECT_EQ(item.extraCount, 0);
    }
    // Nothing but the padding of the last item may follow it.
    EXPECT_LT(bytes.size() - std::min(dialog.end, bytes.size()), 4u);
}

INSTANTIATE_TEST_SUITE_P(
    Languages, ProgressDialog,
    ::testing::Values(DialogCase{"Japanese", 102, L"MS UI Gothic", SHIFTJIS_CHARSET, L"中止"},
                      DialogCase{"English", 103, L"Segoe UI", ANSI_CHARSET, L"Cancel"}),
    [](const ::testing::TestParamInfo<DialogCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Manifest

// Just enough XML for a manifest: elements, attributes, text, comments and the declaration,
// with each element's namespace resolved from the xmlns declarations in scope.
struct XmlElement {
    std::string path;  // local names from the root, joined by '/'
    std::string ns;
    std::map<std::string, std::string> attributes;
    std::string text;
};

class Xml {
public:
    explicit Xml(std::string text) : text_(std::move(text)) {}

    // False when the document is not well formed as far as this reader can tell.
    bool Parse(std::vector<XmlElement>& elements) {
        if (text_.compare(0, 3, "\xEF\xBB\xBF") == 0) at_ = 3;
        std::vector<size_t> open;
        // Unprefixed names outside any default namespace have none.
        std::vector<std::map<std::string, std::string>> scopes{{{"", ""}}};
        std::vector<std::string> names;
        bool rootSeen = false;
        while (at_ < text_.size()) {
            if (text_[at_] != '<') {
                const size_t next = std::min(text_.find('<', at_), text_.size());
                const std::string chunk = Decode(text_.substr(at_, next - at_));
                if (open.empty()) {
                    if (chunk.find_first_not_of(" \t\r\n") != std::string::npos) return false;
                } else {
                    elements[open.back()].text += chunk;
                }
                at_ = next;
            } else if (Skip("<?", "?>") || Skip("<!--", "-->")) {
            } else if (text_.compare(at_, 2, "</") == 0) {
                const size_t close = text_.find('>', at_);
                if (close == std::string::npos || open.empty()) return false;
                std::string name = text_.substr(at_ + 2, close - at_ - 2);
                name.erase(name.find_last_not_of(" \t\r\n") + 1);
                if (name != names.back()) return false;
                open.pop_back();
                scopes.pop_back();
                names.pop_back();
                at_ = close + 1;
            } else {
                if (open.empty() && rootSeen) return false;
                rootSeen = true;
                ++at_;
                XmlElement element;
                const std::string name = Name();
                if (name.empty()) return false;
                bool selfClosing = false;
                for (;;) {
                    SkipSpace();
                    if (text_.compare(at_, 2, "/>") == 0) {
                        selfClosing = true;
                        at_ += 2;
                        break;
                    }
                    if (at_ < text_.size() && text_[at_] == '>') {
                        ++at_;
                        break;
                    }
                    const std::string attribute = Name();
                    SkipSpace();
                    if (attribute.empty() || at_ >= text_.size() || text_[at_] != '=') return false;
                    ++at_;
                    SkipSpace();
                    if (at_ >= text_.size() || (text_[at_] != '"' && text_[at_] != '\'')) {
                        return false;
                    }
                    const size_t end = text_.find(text_[at_], at_ + 1);
                    if (end == std::string::npos) return false;
                    element.attributes[attribute] = Decode(text_.substr(at_ + 1, end - at_ - 1));
                    at_ = end + 1;
                }
                std::map<std::string, std::string> scope = scopes.back();
                for (const auto& [key, value] : element.attributes) {
                    if (key == "xmlns") scope[""] = value;
                    if (key.compare(0, 6, "xmlns:") == 0) scope[key.substr(6)] = value;
                }
                const size_t colon = name.find(':');
                const std::string prefix = colon == std::string::npos ? "" : name.substr(0, colon);
                if (scope.count(prefix) == 0) return false;
                element.ns = scope[prefix];
                const std::string local =
                    colon == std::string::npos ? name : name.substr(colon + 1);
                element.path = open.empty() ? local : elements[open.back()].path + "/" + local;
                elements.push_back(element);
                if (!selfClosing) {
                    open.push_back(elements.size() - 1);
                    scopes.push_back(scope);
                    names.push_back(name);
                }
            }
        }
        return rootSeen && open.empty() && !unterminated_;
    }

private:
    bool Skip(const char* begin, const char* end) {
        if (text_.compare(at_, std::strlen(begin), begin) != 0) return false;
        const size_t close = text_.find(end, at_);
        unterminated_ = unterminated_ || close == std::string::npos;
        at_ = close == std::string::npos ? text_.size() : close + std::strlen(end);
        return true;
    }

    void SkipSpace() {
        while (at_ < text_.size() && std::strchr(" \t\r\n", text_[at_]) && text_[at_] != 0) ++at_;
    }

    std::string Name() {
        const size_t begin = at_;
        while (at_ < text_.size() && !std::strchr(" \t\r\n=/>", text_[at_])) ++at_;
        return text_.substr(begin, at_ - begin);
    }

    static std::string Decode(const std::string& raw) {
        static const std::pair<const char*, char> entities[] = {
            {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}, {"&amp;", '&'}};
        std::string result;
        for (size_t i = 0; i < raw.size();) {
            bool replaced = false;
            for (const auto& [entity, character] : entities) {
                if (raw.compare(i, std::strlen(entity), entity) == 0) {
                    result.push_back(character);
                    i += std::strlen(entity);
                    replaced = true;
                    break;
                }
            }
            if (!replaced) result.push_back(raw[i++]);
        }
        return result;
    }

    std::string text_;
    size_t at_ = 0;
    bool unterminated_ = false;
};

std::vector<const XmlElement*> ElementsAt(const std::vector<XmlElement>& elements,
                                          const std::string& path) {
    std::vector<const XmlElement*> found;
    for (const XmlElement& element : elements) {
        if (element.path == path) found.push_back(&element);
    }
    return found;
}

std::string Trimmed(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

// The loader reads the manifest with id 1 before the program runs; a setting in the wrong place
// or namespace is silently ignored, so each one is checked where the loader looks for it.
TEST(Manifest, RequestsAdministratorAndPerMonitorAwarenessWhereTheLoaderLooks) {
    ASSERT_NE(Updater(), nullptr) << "cannot load " << UpdaterProgram();
    const std::vector<WORD> languages = LanguagesOf(Manifest, 1);
    ASSERT_EQ(languages.size(), 1u) << "one manifest, not one per language";
    EXPECT_EQ(IdsOf(Manifest), std::vector<WORD>{1});
    const Bytes bytes = ResourceBytes(Manifest, 1, languages[0]);
    ASSERT_FALSE(bytes.empty());

    std::vector<XmlElement> elements;
    ASSERT_TRUE(Xml(std::string(bytes.begin(), bytes.end())).Parse(elements))
        << "not well-formed XML:\n"
        << std::string(bytes.begin(), bytes.end());
    ASSERT_FALSE(elements.empty());
    EXPECT_EQ(elements[0].path, "assembly");
    EXPECT_EQ(elements[0].ns, "urn:schemas-microsoft-com:asm.v1");
    EXPECT_EQ(elements[0].attributes["manifestVersion"], "1.0");

    const auto level = ElementsAt(
        elements, "assembly/trustInfo/security/requestedPrivileges/requestedExecutionLevel");
    ASSERT_EQ(level.size(), 1u);
    const auto levelValue = level[0]->attributes.find("level");
    ASSERT_TRUE(levelValue != level[0]->attributes.end()) << "no level attribute";
    EXPECT_EQ(levelValue->second, "requireAdministrator");
    const std::string trustNamespace = ElementsAt(elements, "assembly/trustInfo")[0]->ns;
    EXPECT_TRUE(trustNamespace == "urn:schemas-microsoft-com:asm.v3" ||
                trustNamespace == "urn:schemas-microsoft-com:asm.v2")
        << trustNamespace;

    const auto dpiAware = ElementsAt(elements, "assembly/application/windowsSettings/dpiAware");
    ASSERT_EQ(dpiAware.size(), 1u);
    EXPECT_EQ(dpiAware[0]->ns, "http://schemas.microsoft.com/SMI/2005/WindowsSettings");
    EXPECT_EQ(Trimmed(dpiAware[0]->text), "True/PM");

    const auto awareness =
        ElementsAt(elements, "assembly/application/windowsSettings/dpiAwareness");
    ASSERT_EQ(awareness.size(), 1u);
    EXPECT_EQ(awareness[0]->ns, "http://schemas.microsoft.com/SMI/2016/WindowsSettings");
    EXPECT_EQ(Trimmed(awareness[0]->text), "PerMonitorV2, PerMonitor");
    EXPECT_EQ(ElementsAt(elements, "assembly/application")[0]->ns,
              "urn:schemas-microsoft-com:asm.v3");
}

// The same settings as the system's own manifest reader takes them from the program file.
TEST(Manifest, SystemReadsTheSameSettingsFromTheProgram) {
    const std::wstring program = UpdaterProgram().wstring();
    ACTCTXW request{};
    request.cbSize = sizeof(request);
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = program.c_str();
    request.lpResourceName = MAKEINTRESOURCEW(1);
    HANDLE context = CreateActCtxW(&request);
    ASSERT_NE(context, INVALID_HANDLE_VALUE) << "manifest refused, error " << GetLastError();

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION runLevel{};
    EXPECT_TRUE(QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &runLevel,
                             sizeof(runLevel), nullptr));
    EXPECT_EQ(runLevel.RunLevel, ACTCTX_RUN_LEVEL_REQUIRE_ADMIN);

    auto setting = [&](const wchar_t* ns, const wchar_t* name) {
        wchar_t value[64] = {};
        SIZE_T written = 0;
        if (!QueryActCtxSettingsW(0, context, ns, name, value, 64, &written)) {
            return "(error " + std::to_string(GetLastError()) + ")";
        }
        return Utf8(value);
    };
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2005/WindowsSettings", L"dpiAware"),
              "True/PM");
    EXPECT_EQ(setting(L"http://schemas.microsoft.com/SMI/2016/WindowsSettings", L"dpiAwareness"),
              "PerMonitorV2, PerMonitor");
    ReleaseActCtx(context);
}

// ---------------------------------------------------------------------------------------------
// Icon

// Width and height an icon image gives itself: a PNG's IHDR, or a DIB whose height counts the
// colour and mask bitmaps together.
struct ImageSize {
    long width = -1, height = -1, bitCount = -1;
};

ImageSize SizeOfIconImage(const Bytes& image) {
    ImageSize size;
    static const uint8_t png[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (image.size() >= 24 && std::equal(std::begin(png), std::end(png), image.begin())) {
        auto bigEndian = [&](size_t at) {
            return static_cast<long>(uint32_t{image[at]} << 24 | uint32_t{image[at + 1]} << 16 |
                                     uint32_t{image[at + 2]} << 8 | uint32_t{image[at + 3]});
        };
        size.width = bigEndian(16);
        size.height = bigEndian(20);
    } else if (image.size() >= sizeof(BITMAPINFOHEADER)) {
        BITMAPINFOHEADER header;
        std::memcpy(&header, image.data(), sizeof(header));
        if (header.biSize >= sizeof(header)) {
            size.width = header.biWidth;
            size.height = header.biHeight / 2;
            size.bitCount = header.biBitCount;
        }
    }
    return size;
}

// Explorer shows the first icon group of the program; each of its images must be there and be
// the size the group claims, or Windows draws a scaled or blank icon.
TEST(ApplicationIcon, GroupHoldsFiveSizesEachPresentAndOfItsStatedSize) {
    ASSERT_NE(Updater(), nullptr) << "cannot load " << UpdaterProgram();
    const std::vector<WORD> groups = IdsOf(GroupIcon);
    ASSERT_FALSE(groups.empty());
    EXPECT_EQ(groups[0], 101) << "Explorer would show another group";
    const std::vector<WORD> languages = LanguagesOf(GroupIcon, 101);
    ASSERT_EQ(languages.size(), 1u);
    const Bytes group = ResourceBytes(GroupIcon, 101, languages[0]);
    ASSERT_FALSE(group.empty());

    Reader reader(group);
    EXPECT_EQ(reader.Get<WORD>(), 0);  // reserved
    EXPECT_EQ(reader.Get<WORD>(), 1);  // icons, not cursors
    const WORD count = reader.Get<WORD>();
    EXPECT_EQ(count, 5);
    std::vector<long> sizes;
    for (WORD i = 0; i < count && reader.ok(); ++i) {
        const BYTE width = reader.Get<BYTE>();
        const BYTE height = reader.Get<BYTE>();
        reader.Get<BYTE>();  // colour count
        reader.Get<BYTE>();  // reserved
        reader.Get<WORD>();  // planes
        const WORD bitCount = reader.Get<WORD>();
        const DWORD bytesInRes = reader.Get<DWORD>();
        const WORD id = reader.Get<WORD>();
        ASSERT_TRUE(reader.ok()) << "group ends inside entry " << i;
        const long pixels = width == 0 ? 256 : width;
        SCOPED_TRACE(testing::Message()
                     << "entry " << i << ", " << pixels << " pixels, icon " << id);
        EXPECT_EQ(width, height);
        sizes.push_back(pixels);

        EXPECT_EQ(LanguagesOf(Icon, id), languages);
        const Bytes image = ResourceBytes(Icon, id, languages[0]);
        ASSERT_FALSE(image.empty()) << "the group names an icon that is not there";
        EXPECT_EQ(image.size(), bytesInRes);
        const ImageSize actual = SizeOfIconImage(image);
        EXPECT_EQ(actual.width, pixels);
        EXPECT_EQ(actual.height, pixels);
        if (actual.bitCount >= 0) {
            EXPECT_EQ(actual.bitCount, bitCount);
        }
    }
    std::sort(sizes.rbegin(), sizes.rend());
    EXPECT_EQ(sizes, (std::vector<long>{256, 48, 32, 24, 16}));
}

// ---------------------------------------------------------------------------------------------
// Version

// One node of a VS_VERSIONINFO tree: length, value length, type, key, value, children, each
// part starting on a DWORD boundary.
struct VersionNode {
    std::wstring key;
    WORD type = 0;
    Bytes value;
    std::vector<VersionNode> children;

    const VersionNode* Child(const std::wstring& name) const {
        for (const VersionNode& child : children) {
            if (child.key == name) return &child;
        }
        return nullptr;
    }

    std::wstring Text() const {
        std::wstring text;
        for (size_t i = 0; i + 1 < value.size(); i += 2) {
            const wchar_t unit = static_cast<wchar_t>(value[i] | value[i + 1] << 8);
            if (unit == 0) break;
            text.push_back(unit);
        }
        return text;
    }
};

bool ParseVersionNode(const Bytes& bytes, size_t at, size_t limit, VersionNode& node) {
    auto align = [](size_t offset) { return (offset + 3) / 4 * 4; };
    auto word = [&](size_t offset) {
        return static_cast<WORD>(bytes[offset] | bytes[offset + 1] << 8);
    };
    if (at + 6 > limit) return false;
    const WORD length = word(at), valueLength = word(at + 2);
    node.type = word(at + 4);
    if (length < 6 || at + length > limit) return false;
    const size_t end = at + length;
    size_t p = at + 6;
    for (;; p += 2) {
        if (p + 2 > end) return false;
        if (word(p) == 0) break;
        node.key.push_back(static_cast<wchar_t>(word(p)));
    }
    p = align(p + 2);
    // Text values count UTF-16 units, binary ones bytes.
    const size_t valueBytes = node.type == 1 ? size_t{valueLength} * 2 : valueLength;
    if (p + valueBytes > end) return false;
    node.value.assign(bytes.begin() + p, bytes.begin() + p + valueBytes);
    for (p = align(p + valueBytes); p < end;) {
        VersionNode child;
        if (!ParseVersionNode(bytes, p, end, child)) return false;
        p = align(p + word(p));
        node.children.push_back(std::move(child));
    }
    return true;
}

TEST(VersionBlock, FileAndProductVersionAreTwoZeroZeroZero) {
    ASSERT_NE(Updater(), nullptr) << "cannot load " << UpdaterProgram();
    const std::vector<WORD> languages = LanguagesOf(Version, 1);
    ASSERT_EQ(languages.size(), 1u);
    const Bytes bytes = ResourceBytes(Version, 1, languages[0]);
    VersionNode root;
    ASSERT_TRUE(ParseVersionNode(bytes, 0, bytes.size(), root));
    EXPECT_EQ(root.key, L"VS_VERSION_INFO");
    ASSERT_EQ(root.value.size(), sizeof(VS_FIXEDFILEINFO));
    VS_FIXEDFILEINFO fixed;
    std::memcpy(&fixed, root.value.data(), sizeof(fixed));
    EXPECT_EQ(Hex(fixed.dwSignature), Hex(0xFEEF04BD));
    EXPECT_EQ(Hex(fixed.dwFileVersionMS), Hex(0x00020000));
    EXPECT_EQ(Hex(fixed.dwFileVersionLS), Hex(0x00000000));
    EXPECT_EQ(Hex(fixed.dwProductVersionMS), Hex(0x00020000));
    EXPECT_EQ(Hex(fixed.dwProductVersionLS), Hex(0x00000000));

    // The file's properties show the strings of the table the translation names; they must
    // not tell another version than the numbers above.
    const VersionNode* strings = root.Child(L"StringFileInfo");
    const VersionNode* variables = root.Child(L"VarFileInfo");
    ASSERT_NE(strings, nullptr);
    ASSERT_NE(variables, nullptr);
    const VersionNode* translation = variables->Child(L"Translation");
    ASSERT_NE(translation, nullptr);
    ASSERT_GE(translation->value.size(), 4u);
    for (size_t i = 0; i + 4 <= translation->value.size(); i += 4) {
        wchar_t name[9];
        std::swprintf(name, 9, L"%04X%04X", translation->value[i] | translation->value[i + 1] << 8,
                      translation->value[i + 2] | translation->value[i + 3] << 8);
        SCOPED_TRACE(Utf8(name));
        const VersionNode* table = strings->Child(name);
        ASSERT_NE(table, nullptr) << "the translation names a string table that is not there";
        const VersionNode* fileVersion = table->Child(L"FileVersion");
        const VersionNode* productVersion = table->Child(L"ProductVersion");
        ASSERT_NE(fileVersion, nullptr);
        ASSERT_NE(productVersion, nullptr);
        EXPECT_EQ(fileVersion->Text(), L"2.0.0.0");
        EXPECT_EQ(productVersion->Text(), L"2.0.0.0");
    }
}

}  // namespace
