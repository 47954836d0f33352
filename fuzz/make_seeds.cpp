// Writes the seed corpora: small valid inputs made with the library itself.
// Usage: make_seeds CORPUS_FOLDER (its subfolders are named after the
// targets and must exist).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fidoutil/dates.h"
#include "fuzz_support.h"
#include "msgbase/area.h"

namespace {

using namespace lw;

using fuzz::Piece;

std::string Root;

void Save(const std::string& target, const std::string& name, const std::string& bytes) {
  fuzz::WriteWholeFile(Root + "/" + target + "/" + name, bytes);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

MsgDateTime FixedDate() {
  MsgDateTime dt;
  dt.Year = 2026;
  dt.Month = 12;
  dt.Day = 10;
  dt.Hour = 14;
  dt.Min = 32;
  dt.Sec = 6;
  return dt;
}

void AddMessage(MessageBase& base, const char* to, const char* subject, const std::vector<const char*>& lines,
                bool echomail) {
  if (!base.CreateMsg()) fuzz::Fail("a seed message could not be created");
  FidoAddress orig, dest;
  ParseFidoAddress("2:5020/1042.7", orig);
  ParseFidoAddress("2:5020/9", dest);
  base.SetFrom("Seed Writer");
  base.SetTo(std::string(to));
  base.SetSubj(std::string(subject));
  base.SetDateWritten(FixedDate());
  base.SetDateArrived(FixedDate());
  base.SetAddrs(orig, dest, true);
  base.SetMsgKind(echomail ? 1 : 0);
  base.SetAttr(kAttrPrivate, !echomail);
  base.SetAttr(kAttrLocal, true);
  base.AddKludge("\001PID: make_seeds");
  for (const char* line : lines) base.WriteLine(std::string(line));
  if (echomail) base.AddOrigin(orig, "seed corpus");
  if (!base.WriteMsg()) fuzz::Fail("a seed message could not be stored");
  base.CloseMsg();
}

// Fills a fresh base with three messages and calls `stage` after the
// empty base and after each change, with the base closed in between.
template <typename Stage>
void BuildBase(const std::string& area_id, Stage stage) {
  MsgBasePtr base;
  if (!OpenOrCreateArea(base, area_id)) fuzz::Fail("a seed base could not be created");
  CloseArea(base);
  stage("empty");
  OpenArea(base, area_id);
  AddMessage(*base, "Sysop", "Hello", {"Hi there.", "", "Two lines and an empty one."}, false);
  AddMessage(*base, "All", "Echo", {"An echomail message."}, true);
  AddMessage(*base, "Point Seven", "Re: Hello", {"\001REPLY: 2:5020/9 12345678", "A reply."}, false);
  base->SetLastRead(0, 2);
  CloseArea(base);
  stage("three");
  OpenArea(base, area_id);
  base->SeekFirst(2);
  if (base->SeekFound() && base->OpenMsg()) {
    base->CloseMsg();
    base->DeleteMsg();
  }
  CloseArea(base);
  stage("one-deleted");
}

void BaseSeeds(const char* target, char letter, const std::vector<const char*>& extensions) {
  const std::string path = fuzz::FreshScratchFolder() + "area";
  BuildBase(std::string(letter + path), [&](const char* stage) {
    std::vector<std::string> files;
    std::vector<Piece> pieces;
    for (const char* extension : extensions) files.push_back(Slurp(path + extension));
    for (const std::string& file : files) pieces.push_back(Piece{true, 0, file});
    Save(target, stage, fuzz::JoinPieces(pieces));
  });
}

void MsgSeeds() {
  const std::string folder = fuzz::FreshScratchFolder();
  BuildBase("*" + folder, [&](const char* stage) {
    std::string first = Slurp(folder + "1.msg");
    if (first.empty()) return;  // no message yet
    std::string third = Slurp(folder + "3.msg");
    Save("fuzz_msg", std::string(stage) + "-1", fuzz::JoinPieces({Piece{true, 0, first}}));
    if (!third.empty())
      Save("fuzz_msg", std::string(stage) + "-1-2", fuzz::JoinPieces({{true, 0, first}, {true, 0, third}}));
    std::string lastread = Slurp(folder + "lastread");
    if (!lastread.empty()) {
      Save("fuzz_msg", std::string(stage) + "-lastread", fuzz::JoinPieces({{true, 0, first}, {true, 7, lastread}}));
    }
  });
}

std::string Word32(std::uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(v >> (8 * i));
  return out;
}

void DateSeeds() {
  struct Seed {
    const char* name;
    MsgDateTime dt;
    std::uint32_t seconds;
    const char* text;
  };
  MsgDateTime after_2038 = FixedDate();
  after_2038.Year = 2040;
  const Seed seeds[] = {{"ftsc", FixedDate(), DateTimeToUnix(FixedDate()), "10 Dec 26  14:32:06"},
                        {"ftsc-one-blank", FixedDate(), 0, "10 Dec 26 14:32:06"},
                        {"seadog", FixedDate(), 0, "Thu 10 Dec 26 14:32"},
                        {"dashes", after_2038, 2214216000u, "10-12-26 14:32:06"},
                        {"jam-end", after_2038, 0xFFFFFFFFu, "07 Feb 06  06:28:15"}};
  for (const Seed& s : seeds) {
    const MsgDateTime& d = s.dt;
    std::string bytes;
    for (std::int32_t field : {d.Year, d.Month, d.Day, d.Hour, d.Min, d.Sec, d.Sec100}) {
      bytes += Word32(static_cast<std::uint32_t>(field));
    }
    bytes += Word32(s.seconds) + Word32(PackStamp(d)) + s.text;
    Save("fuzz_dates", s.name, bytes);
  }
}

void TextSeeds(const char* target, const std::vector<std::pair<const char*, const char*>>& seeds) {
  for (const auto& [name, text] : seeds) Save(target, name, text);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_FOLDER\n");
    return 2;
  }
  Root = argv[1];
  BaseSeeds("fuzz_squish", 'S', {".sqd", ".sqi", ".sql"});
  BaseSeeds("fuzz_jam", 'J', {".jhr", ".jdt", ".jdx", ".jlr"});
  MsgSeeds();
  DateSeeds();
  TextSeeds("fuzz_address", {{"4d", "2:5020/1042.7"},
                             {"3d", "2:5020/1042"},
                             {"net-node", "5020/1042.3"},
                             {"node-point", "1042.3"},
                             {"point", ".3"},
                             {"domain", "2:5020/1042.7@fidonet"},
                             {"slash", "/2:5020/1"}});
  TextSeeds("fuzz_config", {{"rules",
                             "LOG larkway.log\r\nNETMAIL *netmail\r\nMOVE yes\r\nPRIORITY NOT_TOUCH TO FROM TOADDR "
                             "FROMADDR\r\nNOT_TOUCH Nobody\r\nTO Sysop, Sbases/sysop\r\nFROM Spammer, KILL\r\n"
                             "TOADDR 2:5020/1.5, Jbases/point5 ; comment\r\nFROMADDR\t2:5020/7, *from7\n"},
                            {"lastread",
                             "NETMAIL Jnetmail\nUSELASTREAD yes\nUSERNUMBER 3\n"
                             "DON'T_TOUCH_LOCAL_AND_UNSENT_MAIL no\n"}});
  return 0;
}
