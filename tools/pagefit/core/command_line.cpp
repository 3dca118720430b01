// Command-line split for the tool.
#include "command_line.h"

#include <cctype>

namespace pagefit {

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

static std::string Rest(const std::string &line, size_t from)
{
    while (from < line.size() && IsBlank(line[from]))
        from++;
    size_t end = line.size();
    while (end > from && (IsBlank(line[end - 1]) || line[end - 1] == '\r' || line[end - 1] == '\n'))
        end--;
    // A path cannot hold a quotation mark: a pair around it only wraps it.
    if (end - from >= 2 && line[from] == '"' && line[end - 1] == '"') {
        from++;
        end--;
    }
    return line.substr(from, end - from);
}

static bool EndsWithExe(const std::string &s)
{
    if (s.size() < 4)
        return false;
    std::string tail = s.substr(s.size() - 4);
    for (char &c : tail)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".exe";
}

std::string BitmapPathFromCommandLine(const std::string &commandLine, IsProgramPath isProgram, void *context)
{
    size_t start = 0;
    while (start < commandLine.size() && IsBlank(commandLine[start]))
        start++;
    if (start < commandLine.size() && commandLine[start] == '"') {
        size_t close = commandLine.find('"', start + 1);
        return close == std::string::npos ? std::string() : Rest(commandLine, close + 1);
    }
    size_t firstBlank = std::string::npos, exeBlank = std::string::npos;
    for (size_t i = start; i <= commandLine.size(); i++) {
        if (i < commandLine.size() && !IsBlank(commandLine[i]))
            continue;
        std::string candidate = commandLine.substr(start, i - start);
        if (candidate.empty() || IsBlank(candidate.back()))
            continue;
        if (isProgram && isProgram(candidate, context))
            return Rest(commandLine, i);
        if (firstBlank == std::string::npos)
            firstBlank = i;
        if (exeBlank == std::string::npos && EndsWithExe(candidate))
            exeBlank = i;
    }
    if (exeBlank != std::string::npos)
        return Rest(commandLine, exeBlank);
    return firstBlank == std::string::npos ? std::string() : Rest(commandLine, firstBlank);
}

} // namespace pagefit
