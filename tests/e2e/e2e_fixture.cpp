#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <regex>

namespace lw::test {

void E2E::Config(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  WriteFile(dir_ / "lw.cfg", text);
}

void E2E::PutMsg(const std::string& area, int n, const MsgFile& m) {
  MakeDirs(dir_ / area);
  WriteFile(dir_ / (area + "/" + std::to_string(n) + ".msg"), m.Bytes());
}

std::vector<std::string> E2E::Msgs(const std::string& area) {
  std::vector<std::string> names;
  if (!Exists(dir_ / area)) return names;
  for (const std::string& n : ListDir(dir_ / area)) {
    if (n.size() > 4 && (n.substr(n.size() - 4) == ".msg" || n.substr(n.size() - 4) == ".MSG")) names.push_back(n);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return std::stoi(a) < std::stoi(b);
  });
  return names;
}

std::vector<std::string> E2E::LogLines(const std::string& name) {
  std::string text = ReadFile(dir_ / name);
  std::vector<std::string> lines;
  static const std::regex stamp("^(.) \\d\\d [A-Z][a-z][a-z] \\d\\d \\d\\d:\\d\\d:\\d\\d (.*)$");
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find("\r\n", pos);
    EXPECT_NE(end, std::string::npos) << "every log line ends with CR LF";
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    std::smatch m;
    if (std::regex_match(line, m, stamp)) line = m[1].str() + " <stamp> " + m[2].str();
    lines.push_back(line);
    pos = end + 2;
  }
  return lines;
}

std::vector<std::string> E2E::Marked(char mark) {
  std::vector<std::string> out;
  for (const std::string& l : LogLines()) {
    if (!l.empty() && l[0] == mark) out.push_back(l);
  }
  return out;
}

}  // namespace lw::test
