#include "e2e/e2e_fixture.h"

#include <algorithm>
#include <filesystem>
#include <regex>

#include "fidoutil/cp866.h"
#include "msgbase/area.h"

namespace lw::test {

std::vector<StoredMsg> ReadArea(const std::string& area_id) {
  std::vector<StoredMsg> out;
  MsgBasePtr base;
  EXPECT_TRUE(OpenArea(base, area_id)) << area_id;
  if (!base) return out;
  base->SetMsgKind(0);
  for (base->SeekFirst(1); base->SeekFound(); base->SeekNext()) {
    EXPECT_TRUE(base->OpenMsg());
    StoredMsg s;
    base->GetTo(s.to);
    s.text = ReadAllBytes(*base->GetTextStream());
    out.push_back(s);
    base->CloseMsg();
  }
  EXPECT_TRUE(CloseArea(base));
  return out;
}

MsgFile MailTo(const std::string& to, const std::string& serial, bool intl) {
  MsgFile m;
  m.to = to;
  m.text =
      "\001MSGID: 2:5020/1 " + serial + "\r" + (intl ? "\001INTL 2:5020/2 2:5020/1\r" : "") + "Text for " + to + "\r";
  return m;
}

void FillArea(const std::string& area_id, const std::vector<MsgFile>& msgs) {
  MsgBasePtr base;
  ASSERT_TRUE(OpenOrCreateArea(base, area_id));
  for (const MsgFile& m : msgs) {
    base->SetMsgKind(0);
    ASSERT_TRUE(base->CreateMsg());
    base->SetTo(m.to);
    base->SetFrom(m.from);
    base->SetSubj(m.subject);
    base->GetTextStream()->Write(m.text.data(), static_cast<std::int32_t>(m.text.size()));
    ASSERT_TRUE(base->WriteMsg());
    base->CloseMsg();
  }
  ASSERT_TRUE(CloseArea(base));
}

std::string E2E::P(const std::string& rel) const {
  std::string path = dir_.path();
  std::size_t pos = 0;
  while (pos <= rel.size()) {
    std::size_t end = rel.find('/', pos);
    if (end == std::string::npos) end = rel.size();
    std::string part = rel.substr(pos, end - pos);
    std::string next = path + "/" + part;
    if (TestingWin32Build() && !Exists(next) && Exists(path)) {
      for (const auto& e : std::filesystem::directory_iterator(path)) {
        std::string name = e.path().filename().string();
        if (UpCase866(name) == UpCase866(part)) next = path + "/" + name;
      }
    }
    path = next;
    pos = end + 1;
  }
  return path;
}

std::string E2E::Shown(const std::string& text) { return TestingWin32Build() ? UpCase866(text) : text; }

std::string E2E::AreaId(const char* letter, const std::string& path) {
  std::string id(letter);
  id.append(path);
  return id;
}

std::string E2E::LastLogLine() {
  std::vector<std::string> lines = LogLines();
  return lines.empty() ? "" : lines.back();
}

void E2E::Config(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  WriteFile(dir_ / "lw.cfg", text);
}

void E2E::PutMsg(const std::string& area, int n, const MsgFile& m) {
  MakeDirs(P(area));
  WriteFile(P(area) + "/" + std::to_string(n) + ".msg", m.Bytes());
}

std::vector<std::string> E2E::Msgs(const std::string& area) {
  std::vector<std::string> names;
  if (!Exists(P(area))) return names;
  for (const std::string& n : ListDir(P(area))) {
    if (n.size() > 4 && UpCase866(n.substr(n.size() - 4)) == ".MSG")
      names.push_back(n.substr(0, n.size() - 4) + ".msg");
  }
  std::sort(names.begin(), names.end(),
            [](const std::string& a, const std::string& b) { return std::stoi(a) < std::stoi(b); });
  return names;
}

std::vector<std::string> E2E::LogLines(const std::string& name) {
  std::string text = ReadFile(P(name));
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
