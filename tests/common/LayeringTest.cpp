// The layers of the source tree: each folder includes only the folders below it, and
// the core folders (everything the engine's media work is made of) know nothing of
// Qt. A wrong include fails here rather than waiting for a review.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The folders each folder may include from (besides itself).
const std::map<std::string, std::set<std::string>>& AllowedIncludes()
{
    static const std::map<std::string, std::set<std::string>> allowed = {
        {"common", {}},
        {"xml", {"common"}},
        {"project", {"common", "xml"}},
        {"media", {"common", "xml", "project"}},
        {"pipeline", {"common", "xml", "project", "media"}},
        {"engine", {"common", "xml", "project", "media", "pipeline"}},
        {"ui", {"common", "xml", "project"}},
        {"frontend", {"common", "xml", "project", "media", "ui"}},
    };
    return allowed;
}

const std::set<std::string> kCoreFolders = {"common", "xml", "project", "media", "pipeline"};

} // namespace

TEST(Layering, EachFolderIncludesOnlyTheFoldersBelowItAndTheCoreNoQt)
{
    const std::regex local(R"(^\s*#\s*include\s*"([a-z]+)/)");
    const std::regex qt(R"(^\s*#\s*include\s*<Q)");
    std::vector<std::string> wrong;
    int files = 0;
    for (const auto& [folder, allowed] : AllowedIncludes()) {
        const fs::path root = fs::path(VELMORA_SOURCE_DIR) / folder;
        ASSERT_TRUE(fs::is_directory(root)) << root;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            const std::string ext = entry.path().extension().string();
            if (!entry.is_regular_file() || (ext != ".cpp" && ext != ".h"))
                continue;
            ++files;
            std::ifstream in(entry.path());
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch match;
                const std::string where = entry.path().lexically_relative(VELMORA_SOURCE_DIR).string() + ":" +
                                          std::to_string(number) + ": ";
                if (std::regex_search(line, match, local) && match[1] != folder && !allowed.contains(match[1]) &&
                    AllowedIncludes().contains(match[1]))
                    wrong.push_back(where + line);
                if (kCoreFolders.contains(folder) && std::regex_search(line, qt))
                    wrong.push_back(where + line);
            }
        }
    }
    EXPECT_GT(files, 100);
    std::string report;
    for (const std::string& line : wrong)
        report += line + "\n";
    EXPECT_TRUE(wrong.empty()) << report;
}
