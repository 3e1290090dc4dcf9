#include "update/U_ZelkFct.h"

#include "platform/PathUtils.h"
#include "platform/ProgramPath.h"
#include "update/TextRules.h"
#include "update/U_Version.h"
#include "update/VersionResource.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <system_error>
#include <vector>

namespace tintavo {

namespace {

namespace fs = std::filesystem;
using namespace tintavo::text;

constexpr char kDelimiter = platform::PathDelim();
// The Western code page's signs, as this system's 8-bit (UTF-8) text writes them.
constexpr std::string_view kCopyrightSign = "\xC2\xA9";
constexpr std::string_view kRegisteredSign = "\xC2\xAE";
constexpr std::string_view kTrademarkSign = "\xE2\x84\xA2";

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(platform::PathForReading(path), ec);
}

std::string FolderOf(const std::string& path) {
    return platform::ExtractFilePath(path);
}

// An element of the application descriptor beside the file: the last line holding the
// opening tag wins, a comment marker around it is removed, the text between the tags is kept.
std::string ReadDescriptorElement(const std::string& path, std::string_view element) {
    const std::string descriptor = FolderOf(path) + "META-INF/AIR/application.xml";
    if (!FileExists(descriptor)) {
        return {};
    }
    std::ifstream in(descriptor, std::ios::binary);
    const std::string open = "<" + std::string(element) + ">";
    const std::string close = "</" + std::string(element) + ">";
    std::string found;
    for (std::string line; std::getline(in, line);) {
        if (ContainsNoCase(line, open)) {
            found = line;
        }
    }
    if (found.empty()) {
        return {};
    }
    found = ReplaceAll(ReplaceAll(found, "<!--", ""), "-->", "");
    const std::size_t start = FindNoCase(found, open) + open.size();
    const std::size_t end = FindNoCase(found, close, start);
    return Trim(
        std::string_view(found).substr(start, end == std::string::npos ? end : end - start));
}

// ".0" appended until the text has four dot-separated parts.
std::string Padded(std::string text) {
    while (PartCount(text, ".") < 4) {
        text += ".0";
    }
    return text;
}

TZelkVersion V(std::string_view text) {
    return TZelkVersion(text);
}

bool HasVersionInfo(const std::string& path) {
    const auto block = ReadVersionBlock(path);
    return block && !block->empty();
}

// The clean-up rules below only ever cut a text at its ends, so they work on views of it: a
// long text costs each step a few characters, never a copy of the whole.

// Drops the first word and the separator after it.
std::string_view DropFirst(std::string_view t, std::size_t wordLength) {
    return t.substr(std::min(wordLength + 1, t.size()));
}

// Drops `count` characters at the end.
std::string_view DropLast(std::string_view t, std::size_t count) {
    return t.substr(0, count >= t.size() ? 0 : t.size() - count);
}

// Trim, RemoveBeginning and RemoveEnding on a view.
std::string_view Trimmed(std::string_view t) {
    const auto trimmed = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!t.empty() && trimmed(t.front())) {
        t.remove_prefix(1);
    }
    while (!t.empty() && trimmed(t.back())) {
        t.remove_suffix(1);
    }
    return t;
}

std::string_view WithoutBeginning(std::string_view t, std::string_view affix) {
    return StartsNoCase(t, affix) ? Trimmed(t.substr(affix.size())) : t;
}

std::string_view WithoutEnding(std::string_view t, std::string_view affix) {
    return EndsNoCase(t, affix) ? Trimmed(t.substr(0, t.size() - affix.size())) : t;
}

bool IsYear(std::string_view word) {
    return word.size() == 4 && ToInt32Def(word, 0) > 1990;
}

bool IsTwoDigitNumber(std::string_view word) {
    return word.size() == 2 && ToInt32Def(word, 0) > 0;
}

bool IsAnyOf(std::string_view text, std::initializer_list<std::string_view> choices) {
    for (const std::string_view c : choices) {
        if (EqualsNoCase(text, c)) {
            return true;
        }
    }
    return false;
}

std::string CutLastPart(const std::string& r) {
    const std::size_t sep = r.rfind(' ');
    return Trim(sep == std::string::npos ? std::string_view() : std::string_view(r).substr(0, sep));
}

} // namespace

std::string GetFileVersionText(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::status(platform::PathForReading(path.string()), ec);
    if (ec || !fs::exists(status) || fs::is_directory(status)) {
        return "File not found";
    }
    const auto info = ReadVersionInfo(path);
    const auto fixed = info ? info->FixedInfo() : std::nullopt;
    if (!fixed) {
        return {};
    }
    std::array<char, 64> buffer{};
    std::snprintf(buffer.data(), buffer.size(), "%u.%u.%u.%u", fixed->FileVersionMS >> 16,
                  fixed->FileVersionMS & 0xFFFF, fixed->FileVersionLS >> 16,
                  fixed->FileVersionLS & 0xFFFF);
    return buffer.data();
}

std::string RedirectSystemPath(const std::string& path) {
    // No system folder here: nothing is redirected.
    return RedirectSystemPath(path, false, std::string(), kDelimiter);
}

std::string RedirectSystemPath(const std::string& path, bool is64BitSystem,
                               const std::string& systemFolder, char delimiter) {
    if (!is64BitSystem || systemFolder.empty() || !path.starts_with(systemFolder)) {
        return path;
    }
    const std::string from = std::string(1, delimiter) + "system32" + delimiter;
    const std::size_t at = FindNoCase(path, from);
    if (at == std::string::npos) {
        return path;
    }
    return path.substr(0, at) + delimiter + "sysnative" + delimiter + path.substr(at + from.size());
}

FileVersionInfoRec ReadFileVersionInfo(const std::string& originalPath) {
    const std::string path = RedirectSystemPath(originalPath);
    FileVersionInfoRec rec;
    const auto info = FileExists(path) ? ReadVersionInfo(path) : std::nullopt;
    if (info && !info->FirstStringTable().empty()) {
        const std::string table = "\\StringFileInfo\\" + info->FirstStringTable() + "\\";
        const auto read = [&](const char* key) {
            return info->QueryString(table + key).value_or(std::string());
        };
        rec = {read("FileDescription"), read("CompanyName"),    read("FileVersion"),
               read("InternalName"),    read("LegalCopyright"), read("OriginalFilename"),
               read("ProductName"),     read("ProductVersion")};
    }
    if (rec.FileDescription.empty() && rec.CompanyName.empty() && rec.FileVersion.empty()) {
        // Fallback: the table named by the first translation, or the bare key when the
        // resource lists no translation.
        rec = {};
        if (info) {
            const auto translations = info->Translations();
            std::map<std::string, std::string> found;
            const std::array<const char*, 8> keys = {
                "FileDescription", "CompanyName",      "FileVersion", "InternalName",
                "LegalCopyRight",  "OriginalFileName", "ProductName", "ProductVersion"};
            for (const char* key : keys) {
                std::string subBlock = key;
                if (!translations.empty()) {
                    std::array<char, 64> buffer{};
                    std::snprintf(buffer.data(), buffer.size(), "\\StringFileInfo\\%04X%04X\\",
                                  translations.front().first, translations.front().second);
                    subBlock = buffer.data() + subBlock;
                }
                if (const auto value = info->QueryString(subBlock)) {
                    found[Lower(key)] = *value;
                }
            }
            const auto get = [&](const char* key) {
                const auto it = found.find(Lower(key));
                return it == found.end() ? std::string() : it->second;
            };
            rec = {get("FileDescription"), get("CompanyName"),    get("FileVersion"),
                   get("InternalName"),    get("LegalCopyright"), get("OriginalFilename"),
                   get("ProductName"),     get("ProductVersion")};
        }
    }
    rec.FileVersion = ReplaceAll(rec.FileVersion, ", ", ".");
    rec.ProductVersion = ReplaceAll(rec.ProductVersion, ", ", ".");
    return rec;
}

std::string NormalizeVersionText(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if ((c >= '0' && c <= '9') || c == '.') {
            out.push_back(c);
        } else if (c == ',') {
            out.push_back('.');
        } else if (c != ' ') {
            break;
        }
    }
    return out;
}

bool IsDigitsAndDots(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || c == '.')) {
            return false;
        }
    }
    return true;
}

std::string FileNameWithoutExt(const std::string& path) {
    const std::string name = platform::ExtractFileName(path);
    return name.substr(0, name.size() - platform::ExtractFileExt(name).size());
}

std::string GetProductVersion(const std::string& originalPath) {
    const std::string path = RedirectSystemPath(originalPath);
    std::string r = GetFileVersionText(path);
    if (HasVersionInfo(path)) {
        const FileVersionInfoRec rec = ReadFileVersionInfo(path);
        const std::string& fv = rec.FileVersion;
        const std::string& pv = rec.ProductVersion;
        // 1. Same major and minor, newer string.
        if (!fv.empty() && IsDigitsAndDots(fv)) {
            const std::string t = Padded(fv);
            if (V(t).NewerThan(V(r)) && V(t).HighValue() == V(r).HighValue()) {
                r = t;
            }
        }
        // 2. Newer product version within the same major; "1.2.3" is not taken for "1.23".
        if (r.find('.') != std::string::npos && pv.find('.') != std::string::npos) {
            const std::string t = NormalizeVersionText(pv);
            if (V(t).HighValue() > V(r).HighValue() && Part(r, ".", 0) == Part(t, ".", 0) &&
                Part(r, ".", 1) + Part(r, ".", 2) != Part(t, ".", 1)) {
                r = t;
            }
            if (r == "0.0.0.0" && V(t).HighValue() > 0) {
                r = t;
            }
        }
        // 3. Agreeing strings.
        {
            const std::string t = NormalizeVersionText(pv);
            const std::string u = NormalizeVersionText(fv);
            if (V(t).HighValue() == V(u).HighValue() && V(t).NewerThan(V(r)) && V(t).IsSet() &&
                V(u).IsSet()) {
                r = t.size() > u.size() ? t : u;
            }
        }
        // 4. Placeholder 1.0.0.0.
        if ((r == "1.0.0.0" || r == "1.0.0.1") && !fv.empty() && IsDigitsAndDots(fv)) {
            r = Padded(NormalizeVersionText(fv));
        }
        // Whether or not the FileVersion had a say, a placeholder left standing gives way to a
        // newer product version.
        if (r == "1.0.0.0" || r == "1.0.0.1") {
            const std::string t = NormalizeVersionText(pv);
            if (V(t).NewerThan(V(r))) {
                r = t;
            }
        }
        // 5. Zero version.
        if (r.starts_with("0.0.0")) {
            const std::string t = NormalizeVersionText(pv);
            if (V(t).NewerThan(V(r))) {
                r = t;
            }
        }
    } else if (r.empty()) {
        r = ReadDescriptorElement(path, "versionNumber");
    }
    return r;
}

std::string CleanName(const std::string& text) {
    std::string_view t = text;
    for (;;) {
        const std::size_t before = t.size();
        // A trailing web address, while something stands before it.
        for (std::size_t sep = t.rfind(' ');
             sep != std::string_view::npos && StartsNoCase(t.substr(sep + 1), "http://");
             sep = t.rfind(' ')) {
            t = Trimmed(t.substr(0, sep));
        }
        t = Trimmed(t);
        t = WithoutBeginning(t, "?");
        t = WithoutEnding(t, " -");
        if (t == "@") {
            t = {};
        }
        // Every step only shortens the text, so an unchanged length is an unchanged text.
        if (t.size() == before) {
            return std::string(t);
        }
    }
}

bool Is64BitImage(const std::string& path) {
    return IsPe64Image(path);
}

namespace {

// The product name's first choice among the version values: the product name, the file
// description or the internal name, by how many words each has.
std::string ChooseNameSource(const FileVersionInfoRec& rec, const std::string& f) {
    const std::string& fd = rec.FileDescription;
    const std::string& pn = rec.ProductName;
    const std::string& in = rec.InternalName;
    std::string r;

    const std::size_t nFD = PartCount(ReplaceAll(fd, " - ", "-"), " -");
    const std::size_t nPN = PartCount(ReplaceAll(pn, " - ", "-"), " ");
    const std::size_t nIN = PartCount(in, " ");
    if (nPN >= 1 && nPN <= 4) {
        r = pn;
    }
    const bool trademarkOk = (nFD < nPN || fd.find('(') != std::string::npos)
                                 ? r.find(kRegisteredSign) != std::string::npos
                                 : true;
    const bool lengthOk = nFD < 4 || (nFD == 4 && !EqualsNoCase(pn, f));
    const bool differs = EqualsNoCase(f, "updater") || pn.empty() || !fd.starts_with(pn);
    if (nFD > 0 && trademarkOk && lengthOk && differs) {
        r = fd;
    }
    if (r.empty()) {
        r = nFD > 0 ? fd : (nPN > 0 ? pn : (nIN > 0 ? in : std::string()));
    }
    if (nIN > 0 && (r.empty() || PartCount(r, " ") > 6)) {
        r = in;
    }
    return r;
}

// The name without a bitness marker, a version number, a trademark or a final full stop.
std::string WithoutMarkers(std::string r) {
    // A bitness marker in brackets at the end: "Tool (64-bit)".
    if (PartCount(r, " ") > 1 && !r.empty() && r.find(')') == r.size() - 1) {
        std::size_t cut = std::string::npos;
        for (const char* marker : {"(64", "(32", "(16"}) {
            const std::size_t at = r.rfind(marker);
            if (at != std::string::npos && (cut == std::string::npos || at > cut)) {
                cut = at;
            }
        }
        if (cut != std::string::npos) {
            r = Trim(std::string_view(r).substr(0, cut));
        }
    }
    // A trailing version number: "Tool 2.1", "Tool V3".
    if (PartCount(r, " ") > 1) {
        const std::string w = LastPart(r, " ");
        bool numeric = !w.empty() &&
                       ((w[0] >= '0' && w[0] <= '9') || w[0] == '.' || w[0] == 'v' || w[0] == 'V');
        for (std::size_t i = 1; numeric && i < w.size(); ++i) {
            numeric = (w[i] >= '0' && w[i] <= '9') || w[i] == '.';
        }
        if (numeric) {
            r = Trim(std::string_view(r).substr(0, r.size() - w.size()));
        }
    }
    if (PartCount(r, " ") > 1 && ContainsNoCase(LastPart(r, " "), "(tm)")) {
        r = CutLastPart(r);
    }
    r = Trim(ReplaceAll(r, kTrademarkSign, ""));
    if (r.size() > 1 && r.back() == '.') {
        r = Trim(std::string_view(r).substr(0, r.size() - 1));
    }
    return r;
}

// The name without the usual words about the file's kind and the system it is made for.
std::string WithoutKindAndSystem(std::string r) {
    for (const char* ending :
         {".exe", ".dll", ".dll loader", "Application", "application file", "main executable"}) {
        r = RemoveEnding(r, ending);
    }
    r = RemoveBeginning(r, "Main executable for");
    r = CleanName(r);
    for (const char* ending :
         {"for Windows", "for Win32", "for Windows NT", "for Windows NT/2000/XP/Vista",
          "for Windows 98/Me/2000/XP", "for Windows XP", "for WindowsNT", "for Win2k/XP",
          "for Windows(R)", "for Windows\xC2\xAE", "for Windows 2000/XP",
          "for Windows 9x/Me/NT/2k/XP", "64-bit", "32-bit"}) {
        r = RemoveEnding(r, ending);
    }
    return r;
}

} // namespace

std::string GetProductName(const std::string& path) {
    const std::string f = FileNameWithoutExt(path);
    std::string r = WithoutMarkers(ChooseNameSource(ReadFileVersionInfo(path), f));
    if (r.empty()) {
        r = ReadDescriptorElement(path, "name");
        if (r.empty()) {
            r = ReadDescriptorElement(path, "filename");
        }
    }
    r = WithoutKindAndSystem(r);
    if (r.empty()) {
        r = f;
    }
    r = Trim(r);
    if (Is64BitImage(path)) {
        r = RemoveEnding(r, " x64");
        r = RemoveEnding(r, " (64 bits)");
        r += " (64 bits)";
    }
    if (r == "?" || r.find("??") != std::string::npos || r.starts_with('$')) {
        r.clear();
    }
    return r;
}

std::string CleanCompanyName(const std::string& text, const std::string& path) {
    std::string t = text.substr(0, text.find('\r'));
    t = Trim(t);
    if (t == "-") {
        t.clear();
    }
    if (t.empty()) {
        t = ReadDescriptorElement(path, "copyright");
    }
    if (IsAnyOf(t, {"GNU", "See GPL licence", "See GPL license", "GNU GPL License",
                    "Gnu General Public License (GPL, Copyleft)", "GNU General Public License",
                    "GNU General Public License v2"}) ||
        ContainsNoCase(t, "GNU GPL")) {
        t.clear();
    }
    t = RemoveBeginning(t, "Author: ");
    t = RemoveBeginning(t, "Original author: ");
    // A web address after the name, with nothing but the address behind it.
    const auto cutAddress = [&t](std::string_view marker, std::size_t after) {
        const std::size_t at = t.find(marker);
        if (at != std::string::npos && at >= after && t.find(' ', at + 7) == std::string::npos) {
            t = Trim(std::string_view(t).substr(0, at));
        }
    };
    cutAddress("http://", 5);
    cutAddress("www.", 9);
    if (EndsNoCase(t, "L.L.C.")) {
        t = RemoveEnding(t, "L.L.C.") + "LLC";
    }
    std::string_view end = t;
    while (end.size() > 1 && std::string_view("-,;([").find(end.back()) != std::string_view::npos) {
        end = Trimmed(end.substr(0, end.size() - 1));
    }
    t = std::string(end);
    if (IsAnyOf(t, {"TODO:", "Company", "none", "."}) || t.starts_with('$')) {
        t.clear();
    }
    return CleanName(t);
}

namespace {

// Every pass works on a view of the original text, and each step looks at no more than the
// few characters its words need: a long text of short words costs passes, never copies or
// scans of the whole text.
class CopyrightStripper {
public:
    explicit CopyrightStripper(std::string_view text)
        : text_(text), lastDotBefore_(text.size() + 1) {
        std::size_t last = kNone;
        for (std::size_t i = 0; i < text.size(); ++i) {
            lastDotBefore_[i] = last;
            if (text[i] == '.') {
                last = i;
            }
        }
        lastDotBefore_[text.size()] = last;
    }

    std::string Run() const {
        std::string_view t = text_;
        for (;;) {
            const std::string_view before = t;
            t = WithoutRightsPhrases(WithoutLicenceWords(WithoutCopyrightMarks(t)));
            // Every step only shortens the text, so an unchanged length is an unchanged text.
            if (t.size() == before.size()) {
                return std::string(t);
            }
        }
    }

private:
    static constexpr std::size_t kNone = std::string_view::npos;

    // The first part of t (up to the first of the separators) when it has at most `maxLength`
    // characters; nothing when it is longer, which no word sought here is.
    static std::optional<std::string_view>
    FirstWord(std::string_view t, std::string_view separators, std::size_t maxLength) {
        const std::string_view head = t.substr(0, maxLength + 1);
        const std::size_t sep = head.find_first_of(separators);
        if (sep != kNone) {
            return t.substr(0, sep);
        }
        return t.size() <= maxLength ? std::optional(t) : std::nullopt;
    }

    // The same for the last part.
    static std::optional<std::string_view> LastWord(std::string_view t, std::string_view separators,
                                                    std::size_t maxLength) {
        const std::size_t tailLength = std::min(t.size(), maxLength + 1);
        const std::string_view tail = t.substr(t.size() - tailLength);
        const std::size_t sep = tail.find_last_of(separators);
        if (sep != kNone) {
            return tail.substr(sep + 1);
        }
        return t.size() <= maxLength ? std::optional(t) : std::nullopt;
    }

    // Position in t of the last "." before position `end` of t; kNone when there is none.
    std::size_t LastDotBefore(std::string_view t, std::size_t end) const {
        if (t.empty()) {
            return kNone;
        }
        const auto offset = static_cast<std::size_t>(t.data() - text_.data());
        const std::size_t at = lastDotBefore_[offset + end];
        return at == kNone || at < offset ? kNone : at - offset;
    }

    // The copyright words, sign and years at either end of the text.
    static std::string_view WithoutCopyrightMarks(std::string_view t) {
        if (t.ends_with(',')) {
            t.remove_suffix(1);
        }
        if (t.starts_with(',')) {
            t.remove_prefix(1);
        }
        if (const auto w = FirstWord(t, " -", 9);
            w && !t.empty() && IsAnyOf(*w, {"C", "(C)", kCopyrightSign, ",", "copyright", "by"})) {
            t = DropFirst(t, w->size());
        }
        t = WithoutBeginning(t, "(c)");
        t = WithoutBeginning(t, "c)");
        if (const auto w = FirstWord(t, " -,", 4); w && !t.empty() && IsYear(*w)) {
            t = DropFirst(t, w->size());
        }
        // The first "/"-part, when it is a year or two digits.
        if (const std::size_t slash = t.substr(0, 5).find('/'); slash != kNone) {
            const std::string_view w = t.substr(0, slash);
            if (w.size() == 4 || IsTwoDigitNumber(w)) {
                t = DropFirst(t, w.size());
            }
        }
        if (const auto w = LastWord(t, " -", 9);
            w && !t.empty() &&
            (IsAnyOf(*w, {"(C)", kCopyrightSign, ",", "copyright"}) || IsYear(*w) ||
             IsTwoDigitNumber(*w))) {
            t = DropLast(t, w->size() + 1);
        }
        if (t.size() > 1 && t.ends_with('-')) {
            t.remove_suffix(1);
        }
        return t;
    }

    // The text without a licence sentence or an "All Rights Reserved" at its end.
    std::string_view WithoutLicenceWords(std::string_view t) const {
        for (const std::string_view ending :
             {" under GNU General Public License", " under the GPL",
              " under the GNU Public License (GPL)", " under GNU General Public License.",
              " under the GPL.", " under the GNU Public License (GPL).",
              "Freeware licensed under GPL", "This file is set under the General Public License.",
              "GNU General Public License v2", "Gnu General Public License (GPL, Copyleft)",
              ". This software is licensed under the terms of the GNU General Public License."}) {
            if (EndsNoCase(t, ending)) {
                t = DropLast(t, ending.size());
            }
        }
        t = Trimmed(t);
        for (const std::string_view p :
             {" All Rights Reserved.", " All Rights Reserved", " All Rigths Reserved.",
              " All Rigths Reserved", ".All Rights Reserved"}) {
            // The last comma-part is the phrase (which holds no comma).
            if (!t.empty() && EndsNoCase(t, p) &&
                (t.size() == p.size() || t[t.size() - p.size() - 1] == ',')) {
                t = DropLast(t, p.size() + 1);
            }
            // The second-to-last "."-part followed by "." is the phrase.
            if (p.ends_with('.')) {
                const std::size_t last = LastDotBefore(t, t.size());
                const std::string_view word = p.substr(0, p.size() - 1);
                if (last != kNone && last >= word.size() &&
                    EqualsNoCase(t.substr(last - word.size(), word.size()), word)) {
                    const std::size_t start = last - word.size();
                    if (start == 0 || t[start - 1] == '.') {
                        t = DropLast(t, p.size() + 1);
                    }
                }
            }
            if (EndsNoCase(t, p)) {
                t = DropLast(t, p.size() + 1);
            }
        }
        return Trimmed(t);
    }

    // The text without the dashes around it, a final year and the copyright and rights
    // phrases at its beginning and end.
    static std::string_view WithoutRightsPhrases(std::string_view t) {
        if (t.size() > 1) {
            if (t.starts_with('-')) {
                t.remove_prefix(1);
            }
            if (t.ends_with('-')) {
                t.remove_suffix(1);
            }
        }
        if (t.size() > 5 && t.ends_with('.') && ToInt32Def(t.substr(t.size() - 5, 4), 0) > 1990) {
            t = DropLast(t, 5);
        }
        // The sign "\xC2\xA9" as UTF-8, and as UTF-8 read as Western 8-bit text
        // ("\xC3\x82\xC2\xA9").
        static constexpr std::array<std::string_view, 16> kBeginnings = {
            "\xC2\xA9",
            "Copyrights \xC2\xA9",
            "Copyright\xC2\xA9",
            "Copyright(c)",
            "Copyright\xC3\x82\xC2\xA9",
            "Copyrights \xC3\x82\xC2\xA9",
            "Copyright(r)",
            "Copyright?",
            "All rights reserved worldwide",
            "All Rights Reserved (C)",
            "All rights reserved",
            "(C)All rights reserved",
            "All rights reserverd",
            "All Rights Reversed",
            "\xC3\x82\xC2\xA9",
            "\xC2\xA9"};
        for (const std::string_view beginning : kBeginnings) {
            t = WithoutBeginning(t, beginning);
        }
        for (const std::string_view ending :
             {"All rights reserved.", "All right reserved.", "Some right reserved.",
              "No rights reserved.",
              "This software is protected by international and romanian copyright and trade "
              "laws."}) {
            t = WithoutEnding(t, ending);
        }
        return t;
    }

    std::string_view text_;
    std::vector<std::size_t> lastDotBefore_; // for each position, the last "." before it
};

} // namespace

std::string StripCopyright(const std::string& text) {
    return CopyrightStripper(text).Run();
}

std::string GetCompanyName(const std::string& originalPath) {
    const std::string path = RedirectSystemPath(originalPath);
    const FileVersionInfoRec rec = ReadFileVersionInfo(path);
    std::string t = rec.CompanyName;
    const std::string l = Trim(rec.LegalCopyright);
    t = CleanCompanyName(t, path);
    if (t.empty() && !l.empty()) {
        t = CleanCompanyName(l, path);
    }
    const std::string before = t;
    t = StripCopyright(t);
    if (t != before) {
        t = CleanCompanyName(t, path);
    }
    if (t == "?" || t.find("??") != std::string::npos) {
        t.clear();
    }
    return t;
}

TDisplayedFileInfo GetDisplayedFileInfo(const std::string& originalPath) {
    const std::string path = RedirectSystemPath(originalPath);
    TDisplayedFileInfo info{GetProductName(path), GetCompanyName(path)};
    if (info.Product.empty() && !info.Company.empty()) {
        info.Product = FileNameWithoutExt(path);
    }
    return info;
}

} // namespace tintavo
