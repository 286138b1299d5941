// Real-world registration scripts (corpus/, see its MANIFEST.md): each is
// checked by `rgs --check`, registered and unregistered by `rgs` (the trees
// compared with `reg export`), and in
// the test process registered and unregistered with the registrar; afterwards
// the registry holds only what the script marks NoRemove and what was there
// before.
#include "registry_fixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <sys/wait.h>

namespace nuv::test {
namespace {

namespace fs = std::filesystem;

// Scripts that are not meant to parse: wizard and build-system templates
// whose placeholders are not variables of the language.
const std::set<std::string> kFailing = {
    "rgs28.rgs",   // ${VAR} and @@foreach lines; root ${REGKEY_ROOT}
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The script's variables with a value for each.
std::map<std::string, std::string> Variables(const std::string& text) {
    std::map<std::string, std::string> vars;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%')
            continue;
        if (i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
            continue;
        }
        const size_t end = text.find('%', i + 1);
        if (end == std::string::npos)
            break;
        const std::string name = text.substr(i + 1, end - i - 1);
        std::string upper = name;
        std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
        std::string value;
        if (upper == "HKROOT")
            value = "HKLM";
        else if (upper == "PROPERTYDESCRIPTIONS")
            value = "";
        else if (upper.find("MODULE") != std::string::npos || upper.find("PATH") != std::string::npos)
            value = "C:\\Program Files\\Corpus\\it''s.dll";
        else
            value = "Value-" + name;
        vars.emplace(name, value);
        i = end;
    }
    return vars;
}

std::vector<fs::path> Scripts() {
    std::vector<fs::path> scripts;
    for (const auto& entry : fs::directory_iterator(NUV_CORPUS_DIR))
        if (entry.path().extension() == ".rgs")
            scripts.push_back(entry.path());
    std::sort(scripts.begin(), scripts.end());
    return scripts;
}

int Run(const std::string& command, std::string& output) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        output.append(buffer, n);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// `reg export` of the roots a script may write, one text.
std::string Export(const std::string& db) {
    std::string all;
    for (const char* root : {"HKLM", "HKCU", "HKU"}) {
        const std::string file = db + ".reg";
        std::string output;
        Run("COMHOST_REGISTRY='" + db + "' '" NUV_REG_PATH "' export " + root + " '" + file + "' /y", output);
        // The export is UTF-16LE text with a byte-order mark; its lines here
        // are ASCII (non-ASCII characters become "?").
        const std::string bytes = ReadFile(file);
        for (size_t i = (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') ? 2 : 0; i + 1 < bytes.size(); i += 2) {
            const unsigned unit = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
            all += unit < 0x80 ? static_cast<char>(unit) : '?';
        }
        std::remove(file.c_str());
    }
    return all;
}

bool MarkedNoRemove(const std::string& script, std::string leaf) {
    std::string text = script;
    std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    std::transform(leaf.begin(), leaf.end(), leaf.begin(), ::tolower);
    for (const char* gap : {" ", "\t", " '", "\t'"})
        if (text.find(std::string("noremove") + gap + leaf) != std::string::npos)
            return true;
    return false;
}

int RunRgs(const fs::path& script, const std::map<std::string, std::string>& vars, const char* mode,
           const std::string& db, std::string& output) {
    std::string command = "COMHOST_REGISTRY='" + db + "' '" NUV_RGS_PATH "' '" + script.string() + "'";
    if (*mode)
        command += std::string(" ") + mode;
    for (const auto& [name, value] : vars) {
        std::string quoted;
        for (char c : name + "=" + value)
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        command += " -D '" + quoted + "'";
    }
    return Run(command, output);
}

class Corpus : public ::testing::TestWithParam<fs::path> {};

TEST_P(Corpus, RegistersAndUnregistersCleanly) {
    const fs::path script = GetParam();
    const std::string name = script.filename().string();
    const std::string text = ReadFile(script);
    const auto vars = Variables(text);
    const bool shouldParse = kFailing.count(name) == 0;

    // The rgs tool, in a registry of its own.
    const std::string db = testing::TempDir() + "/corpus_" + name + ".db";
    std::string output;
    EXPECT_EQ(RunRgs(script, vars, "--check", db, output), shouldParse ? 0 : 1) << output;
    if (shouldParse) {
        const std::string before = Export(db);
        EXPECT_EQ(RunRgs(script, vars, "", db, output), 0) << output;
        EXPECT_EQ(RunRgs(script, vars, "-u", db, output), 0) << output;
        // Compared as `reg export` sees it: only NoRemove keys are new.
        std::istringstream lines(Export(db));
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty() || before.find(line) != std::string::npos)
                continue;
            ASSERT_EQ(line.front(), '[') << name << ": value left: " << line;
            const std::string key = line.substr(1, line.size() - 2);
            EXPECT_TRUE(MarkedNoRemove(text, key.substr(key.rfind('\\') + 1))) << name << ": key left: " << line;
        }
    } else {
        EXPECT_NE(output.find(name + ":"), std::string::npos) << output;
    }
    std::remove(db.c_str());

    // In this process: the whole tree before, registered, unregistered.
    std::vector<std::u16string> wide;
    CRegObject registrar;
    for (const auto& [n, v] : vars) {
        wide.emplace_back(n.begin(), n.end());
        const std::u16string value(v.begin(), v.end());
        ASSERT_EQ(registrar.SetReplacement(reinterpret_cast<LPCOLESTR>(wide.back().c_str()),
                                           reinterpret_cast<LPCOLESTR>(value.c_str())),
                  S_OK);
    }
    const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_USERS, HKEY_CURRENT_CONFIG};
    Dump(HKEY_CLASSES_ROOT);   // the classes view exists before the script runs
    std::string before;
    for (HKEY root : roots)
        before += Dump(root) + "--\n";
    const HRESULT hr = registrar.RunScriptText(text.c_str(), TRUE);
    if (!shouldParse) {
        EXPECT_EQ(hr, DISP_E_EXCEPTION);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(registrar.RunScriptText(text.c_str(), FALSE), S_OK);
    std::string after;
    for (HKEY root : roots)
        after += Dump(root) + "--\n";

    // What stays: the keys before, plus keys the script marks NoRemove
    // (and their NoRemove ancestors), all without values of the script.
    std::istringstream lines(after);
    std::string line;
    while (std::getline(lines, line)) {
        if (line == "--" || before.find(line + "\n") != std::string::npos)
            continue;
        EXPECT_EQ(line.find('['), std::string::npos) << name << ": value left: " << line;
        EXPECT_TRUE(MarkedNoRemove(text, line.substr(line.rfind('\\') + 1))) << name << ": key left: " << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Scripts, Corpus, ::testing::ValuesIn(Scripts()),
                         [](const ::testing::TestParamInfo<fs::path>& info) {
                             return info.param.stem().string();
                         });

}  // namespace
}  // namespace nuv::test
