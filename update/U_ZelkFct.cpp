#include "update/U_ZelkFct.h"

#include "platform/PathUtils.h"
#include "update/TextRules.h"
#include "update/U_Version.h"
#include "update/VersionResource.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <map>
#include <system_error>

namespace tintavo {

namespace {

namespace fs = std::filesystem;
using namespace tintavo::text;

constexpr char kDelimiter = platform::PathDelim();
// The Western code page's signs, as this system's 8-bit (UTF-8) text writes them.
constexpr std::string_view kCopyrightSign = "\xC2\xA9";
constexpr std::string_view kRegisteredSign = "\xC2\xAE";
constexpr std::string_view kTrademarkSign = "\xE2\x84\xA2";
// "©" in UTF-8 read as Western 8-bit text ("Â©"), then written in UTF-8.
constexpr std::string_view kMisreadCopyrightSign = "\xC3\x82\xC2\xA9";

bool FileExists(const std::string& path) {
    std::error_code ec;
    return fs::is_regular_file(path, ec);
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

// Drops the first word and the separator after it.
std::string DropFirst(const std::string& t, std::size_t wordLength) {
    return wordLength + 1 >= t.size() ? std::string() : t.substr(wordLength + 1);
}

// Drops `count` characters at the end.
std::string DropLast(const std::string& t, std::size_t count) {
    return count >= t.size() ? std::string() : t.substr(0, t.size() - count);
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
    const fs::file_status status = fs::status(path, ec);
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
    std::string t = text;
    for (;;) {
        const std::string before = t;
        while (PartCount(t, " ") > 1 && StartsNoCase(LastPart(t, " "), "http://")) {
            t = CutLastPart(t);
        }
        t = Trim(t);
        t = RemoveBeginning(t, "?");
        t = RemoveEnding(t, " -");
        if (t == "@") {
            t.clear();
        }
        if (t == before) {
            return t;
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
    while (t.size() > 1 && std::string_view("-,;([").find(t.back()) != std::string_view::npos) {
        t = Trim(std::string_view(t).substr(0, t.size() - 1));
    }
    if (IsAnyOf(t, {"TODO:", "Company", "none", "."}) || t.starts_with('$')) {
        t.clear();
    }
    return CleanName(t);
}

namespace {

// The copyright words, sign and years at either end of the text.
std::string WithoutCopyrightMarks(std::string t) {
    if (t.ends_with(',')) {
        t.pop_back();
    }
    if (t.starts_with(',')) {
        t.erase(0, 1);
    }
    {
        const std::string w = Part(t, " -", 0);
        if (!t.empty() && IsAnyOf(w, {"C", "(C)", kCopyrightSign, ",", "copyright", "by"})) {
            t = DropFirst(t, w.size());
        }
    }
    t = RemoveBeginning(t, "(c)");
    t = RemoveBeginning(t, "c)");
    {
        const std::string w = Part(t, " -,", 0);
        if (!t.empty() && IsYear(w)) {
            t = DropFirst(t, w.size());
        }
    }
    if (t.find('/') != std::string::npos) {
        const std::string w = Part(t, "/", 0);
        if (w.size() == 4 || IsTwoDigitNumber(w)) {
            t = DropFirst(t, w.size());
        }
    }
    if (!t.empty()) {
        const std::string w = LastPart(t, " -");
        if (IsAnyOf(w, {"(C)", kCopyrightSign, ",", "copyright"}) || IsYear(w) ||
            IsTwoDigitNumber(w)) {
            t = DropLast(t, w.size() + 1);
        }
    }
    if (t.size() > 1 && t.ends_with('-')) {
        t.pop_back();
    }
    return t;
}

// The text without a licence sentence or an "All Rights Reserved" at its end.
std::string WithoutLicenceWords(std::string t) {
    for (const char* ending :
         {" under GNU General Public License", " under the GPL",
          " under the GNU Public License (GPL)", " under GNU General Public License.",
          " under the GPL.", " under the GNU Public License (GPL).", "Freeware licensed under GPL",
          "This file is set under the General Public License.", "GNU General Public License v2",
          "Gnu General Public License (GPL, Copyleft)",
          ". This software is licensed under the terms of the GNU General Public License."}) {
        if (EndsNoCase(t, ending)) {
            t = DropLast(t, std::string_view(ending).size());
        }
    }
    t = Trim(t);
    for (const std::string_view p :
         {" All Rights Reserved.", " All Rights Reserved", " All Rigths Reserved.",
          " All Rigths Reserved", ".All Rights Reserved"}) {
        if (!t.empty() && EqualsNoCase(LastPart(t, ","), p)) {
            t = DropLast(t, p.size() + 1);
        }
        const std::size_t dotParts = PartCount(t, ".");
        if (dotParts >= 2 && EqualsNoCase(Part(t, ".", dotParts - 2) + ".", p)) {
            t = DropLast(t, p.size() + 1);
        }
        if (EndsNoCase(t, p)) {
            t = DropLast(t, p.size() + 1);
        }
    }
    return Trim(t);
}

// The text without the dashes around it, a final year and the copyright and rights phrases
// at its beginning and end.
std::string WithoutRightsPhrases(std::string t) {
    if (t.size() > 1) {
        if (t.starts_with('-')) {
            t.erase(0, 1);
        }
        if (t.ends_with('-')) {
            t.pop_back();
        }
    }
    if (t.size() > 5 && t.ends_with('.') && ToInt32Def(t.substr(t.size() - 5, 4), 0) > 1990) {
        t = DropLast(t, 5);
    }
    const std::string misreadCopyright(kMisreadCopyrightSign);
    const std::string copyright(kCopyrightSign);
    for (const std::string& beginning :
         {copyright, "Copyrights " + copyright, "Copyright" + copyright,
          std::string("Copyright(c)"), "Copyright" + misreadCopyright,
          "Copyrights " + misreadCopyright, std::string("Copyright(r)"), std::string("Copyright?"),
          std::string("All rights reserved worldwide"), std::string("All Rights Reserved (C)"),
          std::string("All rights reserved"), std::string("(C)All rights reserved"),
          std::string("All rights reserverd"), std::string("All Rights Reversed"), misreadCopyright,
          copyright}) {
        t = RemoveBeginning(t, beginning);
    }
    for (const char* ending :
         {"All rights reserved.", "All right reserved.", "Some right reserved.",
          "No rights reserved.",
          "This software is protected by international and romanian copyright and trade "
          "laws."}) {
        t = RemoveEnding(t, ending);
    }
    return t;
}

} // namespace

std::string StripCopyright(const std::string& text) {
    const std::string t = WithoutRightsPhrases(WithoutLicenceWords(WithoutCopyrightMarks(text)));
    return t == text ? t : StripCopyright(t);
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
