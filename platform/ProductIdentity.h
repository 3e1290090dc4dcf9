#pragma once

// Who the program is: the one place every library and the window take the program's names
// and the maker's addresses from.

#include <string_view>

namespace tintavo {

// The application title: the taskbar entry, the caption of message boxes, the product key's
// name and the stem of the program's files in its data folder.
inline constexpr char ApplicationTitle[] = "Tintavo";
// The name under which the program is registered among the installed programs.
inline constexpr char ProductName[] = "Orvane Tintavo";
// The maker's folder and registry key name.
inline constexpr char CompanyName[] = "Orvane";
// The maker's web site, used when the product key holds no WebSite setting.
inline constexpr std::string_view kMakerWebSite = "https://www.orvane.example";
// The maker's contact address, for a "mailto:" link.
inline constexpr char MakerContactAddress[] = "contact@orvane.example";

} // namespace tintavo
