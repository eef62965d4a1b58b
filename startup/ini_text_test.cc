#include "startup/ini_text.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kel {
namespace {

// Lines each ended with CR LF.
std::string Crlf(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

TEST(IniRead, Values) {
  const std::string u = "[Usuari]\r\n";
  struct Case {
    std::string file, section, key, value;
  } cases[] = {
      {u + "Idioma=CAT", "Usuari", "Idioma", "CAT"},
      {u + "Idioma= CAT", "Usuari", "Idioma", " CAT"},        // a blank after "=" stays
      {u + "Idioma=CAT ; nota", "Usuari", "Idioma", "CAT "},  // so does one before ";"
      {u + "Idioma=\"CAT\"", "Usuari", "Idioma", "CAT"},
      {u + "Idioma=\"", "Usuari", "Idioma", "\""},
      {u + "Idioma= \"CAT\"", "Usuari", "Idioma", " \"CAT\""},
      {"[  uSUARI  ]\r\n  idioma  =SPA", " Usuari ", " Idioma ", "SPA"},
      {u + "Idioma=1\r\nIdioma=2", "Usuari", "Idioma", "1"},        // the first wins
      {u + "X=1\r\n[Usuari]\r\nIdioma=2", "Usuari", "Idioma", ""},  // only the first section
      {"Idioma=0\r\n[A]\r\nIdioma=1\r\n" + u, "Usuari", "Idioma", ""},
      {u + "sense igual\r\n\r\n; nota\r\nIdioma=a=b", "Usuari", "Idioma", "a=b"},
      {"[Usuari ; nota\r\nIdioma=OCI", "Usuari", "Idioma", "OCI"},  // no "]"
      {u + ";Idioma=CAT", "Usuari", "Idioma", ""},
      {u + "Opci\xA2=1", "Usuari", "OPCI\xE0", "1"},  // accented letters fold too
      {"[Usuari]\nIdioma=CAT\n", "Usuari", "Idioma", "CAT"},
      {"", "Usuari", "Idioma", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindIniValue(c.file, c.section, c.key), c.value) << c.file;
  }
}

TEST(IniMerge, Cases) {
  struct Case {
    std::string before;
    const char *section, *key, *value;
    std::string after;
  } cases[] = {
      {"", "Usuari", "Idioma", "SPA", Crlf({"[Usuari]", "Idioma=SPA"})},  // missing file
      {"", "Usuari", "Idioma", "", ""},
      {"", " U ", " K ", " V ", Crlf({"[ U ]", " K = V "})},  // written as passed
      // A rewritten line keeps everything up to its first "=" and loses its comment.
      {Crlf({"[usuari]", "  idioma  =CAT ; antic"}), "Usuari", "IDIOMA", "SPA",
       Crlf({"[usuari]", "  idioma  =SPA"})},
      // A new key lands after the section's last line with content.
      {Crlf({"[Usuari]", "X=1", "", "; nota", "[B]"}), "Usuari", "Idioma", "GLG",
       Crlf({"[Usuari]", "X=1", "Idioma=GLG", "", "; nota", "[B]"})},
      {Crlf({"[A]", "X=1", "", ";fi"}), "Usuari", "Idioma", "OCI",
       Crlf({"[A]", "X=1", "[Usuari]", "Idioma=OCI", "", ";fi"})},
      {Crlf({"[U]", "; a", "K=1", "", "; b", "Y=1", "; c"}), "U", "K", "2",
       Crlf({"[U]", "; a", "K=2", "", "; b", "Y=1", "; c"})},
      {Crlf({"[U]", "text", "nota ;K=1", "[B]"}), "U", "K", "2",
       Crlf({"[U]", "text", "nota ;K=1", "K=2", "[B]"})},
      // Removing.
      {Crlf({"[U]", "K=1", "X=1"}), "U", "K", "", Crlf({"[U]", "X=1"})},
      {Crlf({"[U]", "X=1", "; nota", "text", "", "[B]", "Z=3", "[u]", "Y=2"}), "U", "", "",
       Crlf({"; nota", "text", "", "[B]", "Z=3"})},
      // Duplicates: every matching line of every section of the name.
      {Crlf({"[U]", "K=1", "K=2", "[B]", "K=0", "[U]", "K=3"}), "U", "K", "9",
       Crlf({"[U]", "K=9", "K=9", "[B]", "K=0", "[U]", "K=9"})},
      {Crlf({"[U]", "X=1", "", "[B]", "[U]", "K=2"}), "U", "K", "9",
       Crlf({"[U]", "X=1", "K=9", "", "[B]", "[U]", "K=9"})},
      // LF lines and a last line without an end come out with CR LF.
      {"[U]\nX=1\n\n[B]\nY=2", "U", "K", "V", Crlf({"[U]", "X=1", "K=V", "", "[B]", "Y=2"})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MergeIniText(c.before, c.section, c.key, c.value), c.after)
        << "[" << c.section << "] " << c.key << "=" << c.value << " into\n"
        << c.before;
  }
}

// Names of the random files: ASCII, compared without case or blanks.
bool SameName(std::string_view a, std::string_view b) {
  auto norm = [](std::string_view t) {
    std::string out;
    for (char c : t) {
      if (c != ' ') out += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    return out;
  };
  return norm(a) == norm(b);
}

// The lines without the key lines of `key` in sections named `section`, and
// without the headers of that name when `drop_headers`.
std::vector<std::string> OtherLines(std::string_view bytes, std::string_view section,
                                    std::string_view key, bool drop_headers) {
  std::vector<std::string> kept;
  bool inside = false;
  for (std::string_view line : SplitIniLines(bytes)) {
    IniLine p = ParseIniLine(line);
    if (p.kind == IniLine::Kind::kHeader) inside = SameName(p.name, section);
    bool header = p.kind == IniLine::Kind::kHeader && inside;
    bool key_line = p.kind == IniLine::Kind::kKey && inside && SameName(p.name, key);
    if (!key_line && !(header && drop_headers)) kept.emplace_back(line);
  }
  return kept;
}

// Random files of every kind of line: the key reads back, every other line
// survives byte for byte and in order, other keys read as before, and
// writing the same again changes nothing.
TEST(IniMerge, RandomFiles) {
  const std::vector<std::string> names = {"usuari", "SISTEMA", "Idioma", "k"};
  std::mt19937 rng(1234);
  auto name = [&] { return names[rng() % names.size()]; };
  auto blanks = [&] { return std::string(rng() % 3, ' '); };
  auto value = [&] { return "v" + std::to_string(rng() % 100) + blanks() + "\x87."; };
  const std::string lines[] = {"[@]", "@=$", "@=$ ;x=y", "", "; [x] k=v", "other", "\t@\t=tab"};
  for (int round = 0; round < 3000; ++round) {
    std::string before;
    for (int i = static_cast<int>(rng() % 40); i > 0; --i) {
      std::string line = blanks() + lines[rng() % std::size(lines)];
      if (auto at = line.find('@'); at != std::string::npos) line.replace(at, 1, name());
      if (auto at = line.find('$'); at != std::string::npos) line.replace(at, 1, value());
      before += line + (round % 4 == 0 ? "\n" : "\r\n");
    }
    const std::string section = name(), key = name(), v = rng() % 5 == 0 ? "" : value();
    const std::string after = MergeIniText(before, section, key, v);
    SCOPED_TRACE("[" + section + "] " + key + "=" + v + " into\n" + before);

    ASSERT_EQ(FindIniValue(after, section, key), v);
    ASSERT_EQ(std::count(after.begin(), after.end(), '\n'),
              std::count(after.begin(), after.end(), '\r'));
    ASSERT_EQ(MergeIniText(after, section, key, v), after);
    const bool had_section = OtherLines(before, section, "", true).size() !=
                             OtherLines(before, section, "", false).size();
    ASSERT_EQ(OtherLines(before, section, key, false),
              OtherLines(after, section, key, !had_section));
    for (const std::string& s : names) {
      for (const std::string& k : names) {
        if (!SameName(s, section) || !SameName(k, key)) {
          ASSERT_EQ(FindIniValue(after, s, k), FindIniValue(before, s, k)) << s << " " << k;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kel
