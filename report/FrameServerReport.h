// The installed frame server's facts as text: the "-avsinfo" report on the
// console and the log's "[General info]" section.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "frameserver/AvisynthInfo.h"

// A plug-in directory entry (label, ":", tab, directory) with the text up to
// and including the first ":" that precedes a tab, then `gap` in place of the
// tab, then the directory. Entries without ":\t" come back unchanged.
std::string PluginDirDisplayLine(const std::string& entry, const std::string& gap);

// The lines of the "-avsinfo" report, without line ends. `toOem` converts the
// location and the plug-in lines for the console.
std::vector<std::string> AvisynthReportLines(const FrameServerFacts& info,
                                             const std::function<std::string(const std::string&)>& toOem);

// The "[General info]" section, each line ended by "\n".
std::string GeneralInfoSection(const std::string& versionText, const std::string& scriptPath,
                               const std::string& switchesText, const FrameServerFacts& info);
