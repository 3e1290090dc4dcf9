#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// What an executable file declares about itself in its version resource: its version texts
// and its product identification (product name and company). The file is untrusted input;
// nothing here raises, and an unreadable file reads as one without version resource.
namespace tintavo {

// The string values of a version resource. A missing key leaves its field empty; FileVersion
// and ProductVersion never contain ", " (resources often write 1, 8, 0, 16).
struct FileVersionInfoRec {
    std::string FileDescription;
    std::string CompanyName;
    std::string FileVersion;
    std::string InternalName;
    std::string LegalCopyright;
    std::string OriginalFilename;
    std::string ProductName;
    std::string ProductVersion;
};

struct TDisplayedFileInfo {
    std::string Product;
    std::string Company;
};

// The fixed file version as "major.minor.release.build"; empty when the file has no usable
// version resource; "File not found" when the path names nothing or a folder.
std::string GetFileVersionText(const std::filesystem::path& path);

// The string values, from the first string table, or else from the table named by the first
// translation (which also answers when the first table lacks all of FileDescription,
// CompanyName and FileVersion).
FileVersionInfoRec ReadFileVersionInfo(const std::string& path);

// The version reported for a file: the fixed version reconciled with the resource's version
// strings. May have fewer than four parts, and is empty for a file without version resource
// (unless its folder holds an application descriptor META-INF/AIR/application.xml).
std::string GetProductVersion(const std::string& path);

// A 32-bit reader on a 64-bit system reads files of the system folder through "sysnative".
// This system has no such folder, so the path comes back unchanged.
std::string RedirectSystemPath(const std::string& path);
// The rule itself: when `is64BitSystem` and the path begins with `systemFolder` (exact
// comparison), the first "<d>system32<d>" (ignoring case) becomes "<d>sysnative<d>", where
// <d> is the path delimiter. An empty system folder redirects nothing.
std::string RedirectSystemPath(const std::string& path, bool is64BitSystem,
                               const std::string& systemFolder, char delimiter);

// The leading version-like part of a text: digits and "." kept, "," turned into ".", blanks
// dropped, stopping at anything else. "1, 8, 0, 16" gives "1.8.0.16", "2.5 beta" gives "2.5".
std::string NormalizeVersionText(std::string_view text);
// Every character is a digit or "." (true for the empty text too).
bool IsDigitsAndDots(std::string_view text);
// The file-name part of a path, cut before its last ".".
std::string FileNameWithoutExt(const std::string& path);

// Product name and company; the product falls back to the file name when only the company
// is known.
TDisplayedFileInfo GetDisplayedFileInfo(const std::string& path);
std::string GetProductName(const std::string& path);
std::string GetCompanyName(const std::string& path);
// Company clean-up: first line only, licence names and placeholders cleared, trailing web
// addresses and punctuation removed.
std::string CleanCompanyName(const std::string& text, const std::string& path);
// Removes copyright and licence notices around a company name, until nothing changes.
std::string StripCopyright(const std::string& text);
// Removes a trailing web address, a leading "?", a trailing " -"; clears "@".
std::string CleanName(const std::string& text);
// The file is a Windows image whose optional header is the 64-bit one.
bool Is64BitImage(const std::string& path);

} // namespace tintavo
