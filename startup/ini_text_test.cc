#include "startup/ini_text.h"

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "gtest/gtest.h"

namespace kel {
namespace {

// Lines joined with CR LF, each line ended.
std::string Crlf(std::initializer_list<std::string> lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\r\n";
  return out;
}

TEST(IniRead, FindsValues) {
  struct Case {
    std::string file;
    const char* section;
    const char* key;
    std::string value;
  } cases[] = {
      {Crlf({"[Usuari]", "Idioma=CAT"}), "Usuari", "Idioma", "CAT"},
      {Crlf({"[Usuari]", "Idioma= CAT"}), "Usuari", "Idioma", " CAT"},
      {Crlf({"[Usuari]", "Idioma=CAT ; comment"}), "Usuari", "Idioma", "CAT "},
      {Crlf({"[Usuari]", "Idioma=\"CAT\""}), "Usuari", "Idioma", "CAT"},
      {Crlf({"[Usuari]", "Idioma=\""}), "Usuari", "Idioma", "\""},
      {Crlf({"[Usuari]", "Idioma=\"\""}), "Usuari", "Idioma", ""},
      {Crlf({"[Usuari]", "Idioma= \"CAT\""}), "Usuari", "Idioma", " \"CAT\""},
      {Crlf({"[  uSUARI  ]", "idioma=SPA"}), "Usuari", "Idioma", "SPA"},
      {Crlf({"[Usuari]", "   Idioma   =GLG"}), " Usuari ", " Idioma ", "GLG"},
      {Crlf({"[Usuari]", "Idioma=1", "Idioma=2"}), "Usuari", "Idioma", "1"},
      {Crlf({"[Usuari]", "X=1", "[Usuari]", "Idioma=2"}), "Usuari", "Idioma", ""},
      {Crlf({"[Altres]", "Idioma=1", "[Usuari]", "Idioma=2"}), "Usuari", "Idioma", "2"},
      {Crlf({"Idioma=0", "[Usuari]"}), "Usuari", "Idioma", ""},
      {Crlf({"[Usuari]", "sense igual", "", "; nota", "Idioma=a=b"}), "Usuari", "Idioma", "a=b"},
      {Crlf({"[Usuari]", "Idioma="}), "Usuari", "Idioma", ""},
      {Crlf({"[Usuari", "Idioma=OCI"}), "Usuari", "Idioma", "OCI"},  // no "]"
      {Crlf({"[Usuari] ; comentari", "Idioma=OCI"}), "Usuari", "Idioma", "OCI"},
      {Crlf({"[Usu;ari]", "Idioma=OCI"}), "Usu", "Idioma", "OCI"},  // comment cuts it
      {Crlf({"[Usuari]", ";Idioma=CAT"}), "Usuari", "Idioma", ""},
      {Crlf({"[Usuari]", "Opci\xA2=1"}), "Usuari", "OPCI\xE0", "1"},  // accented key
      {"[Usuari]\nIdioma=CAT\n", "Usuari", "Idioma", "CAT"},          // LF only
      {"[Usuari]\r\nIdioma=CAT", "Usuari", "Idioma", "CAT"},          // no final line end
      {"", "Usuari", "Idioma", ""},
      {Crlf({"[Usuari]", "Idioma=CAT"}), "Sistema", "Idioma", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindIniValue(c.file, c.section, c.key), c.value)
        << c.file << "[" << c.section << "] " << c.key;
  }
}

TEST(IniMerge, Cases) {
  struct Case {
    const char* name;
    std::string before;
    const char* section;
    const char* key;
    const char* value;
    std::string after;
  } cases[] = {
      {"missing file", "", "Usuari", "Idioma", "SPA", Crlf({"[Usuari]", "Idioma=SPA"})},
      {"key rewritten up to its first =", Crlf({"[Usuari]", "  idioma  =CAT ; antic", "X=1"}),
       "Usuari", "Idioma", "SPA", Crlf({"[Usuari]", "  idioma  =SPA", "X=1"})},
      {"new key before blank and comment",
       Crlf({"[Usuari]", "X=1", "", "; seccio seguent", "[Sistema]", "Y=2"}), "Usuari", "Idioma",
       "GLG", Crlf({"[Usuari]", "X=1", "Idioma=GLG", "", "; seccio seguent", "[Sistema]", "Y=2"})},
      {"new section after last content", Crlf({"[A]", "X=1", "", ";fi", ""}), "Usuari", "Idioma",
       "OCI", Crlf({"[A]", "X=1", "[Usuari]", "Idioma=OCI", "", ";fi", ""})},
      {"empty value removes the key", Crlf({"[Usuari]", "Idioma=CAT", "X=1"}), "Usuari", "Idioma",
       "", Crlf({"[Usuari]", "X=1"})},
      {"empty value on a missing key changes nothing", Crlf({"[Usuari]", "X=1"}), "Usuari",
       "Idioma", "", Crlf({"[Usuari]", "X=1"})},
      {"empty key removes header and key lines",
       Crlf({"[Usuari]", "X=1", "; nota", "text", "Y=2", "", "[B]", "Z=3"}), "Usuari", "", "",
       Crlf({"; nota", "text", "", "[B]", "Z=3"})},
      {"duplicate key replaced twice", Crlf({"[Usuari]", "Idioma=1", "Idioma=2"}), "Usuari",
       "IDIOMA", "3", Crlf({"[Usuari]", "Idioma=3", "Idioma=3"})},
      {"duplicate sections: every one rewritten",
       Crlf({"[Usuari]", "Idioma=1", "[B]", "[usuari]", "Idioma=2"}), "Usuari", "Idioma", "9",
       Crlf({"[Usuari]", "Idioma=9", "[B]", "[usuari]", "Idioma=9"})},
      {"duplicate sections: missing key goes to the first",
       Crlf({"[Usuari]", "X=1", "", "[B]", "[Usuari]", "Y=2"}), "Usuari", "Idioma", "CAT",
       Crlf({"[Usuari]", "X=1", "Idioma=CAT", "", "[B]", "[Usuari]", "Y=2"})},
      {"key only in the second section: added to the first, second rewritten",
       Crlf({"[Usuari]", "X=1", "[Usuari]", "Idioma=SPA"}), "Usuari", "Idioma", "CAT",
       Crlf({"[Usuari]", "X=1", "Idioma=CAT", "[Usuari]", "Idioma=CAT"})},
      {"header in other case and with blanks", Crlf({"[ USUARI ]", "x=1"}), "usuari", "Idioma",
       "CAT", Crlf({"[ USUARI ]", "x=1", "Idioma=CAT"})},
      {"key in other case keeps its spelling", Crlf({"[Usuari]", "IDIOMA=CAT"}), "Usuari", "idioma",
       "SPA", Crlf({"[Usuari]", "IDIOMA=SPA"})},
      {"arguments written as passed", "", " Usuari ", " Idioma ", " SPA ",
       Crlf({"[ Usuari ]", " Idioma = SPA "})},
      {"same key in other sections untouched",
       Crlf({"Idioma=0", "[A]", "Idioma=1", "[Usuari]", "[C]", "Idioma=3"}), "Usuari", "Idioma",
       "CAT", Crlf({"Idioma=0", "[A]", "Idioma=1", "[Usuari]", "Idioma=CAT", "[C]", "Idioma=3"})},
      {"comment lines inside the section keep their place",
       Crlf({"[Usuari]", "; a", "Idioma=CAT", "", "; b", "Y=1", "; c"}), "Usuari", "Idioma", "SPA",
       Crlf({"[Usuari]", "; a", "Idioma=SPA", "", "; b", "Y=1", "; c"})},
      {"lines without = stay", Crlf({"[Usuari]", "soc una linia", "[B]"}), "Usuari", "Idioma",
       "CAT", Crlf({"[Usuari]", "soc una linia", "Idioma=CAT", "[B]"})},
      {"comment of a rewritten line is lost", Crlf({"[Usuari]", "Idioma=CAT;x=y"}), "Usuari",
       "Idioma", "SPA", Crlf({"[Usuari]", "Idioma=SPA"})},
      {"= inside a comment is not a key line", Crlf({"[Usuari]", "nota ;Idioma=CAT"}), "Usuari",
       "Idioma", "SPA", Crlf({"[Usuari]", "nota ;Idioma=CAT", "Idioma=SPA"})},
      {"LF lines come out with CR LF", "[Usuari]\nX=1\n\n[B]\n", "Usuari", "Idioma", "CAT",
       Crlf({"[Usuari]", "X=1", "Idioma=CAT", "", "[B]"})},
      {"no final line end", "[Usuari]\r\nX=1", "Usuari", "X", "2", Crlf({"[Usuari]", "X=2"})},
      {"removing from a missing file leaves it empty", "", "Usuari", "Idioma", "", ""},
      {"only blank lines: key goes before them", Crlf({"", "  ", ";c"}), "S", "K", "V",
       Crlf({"[S]", "K=V", "", "  ", ";c"})},
      {"empty key removes the header of every section of the name",
       Crlf({"[S]", "a=1", "[T]", "b=2", "[s]", "c=3", "; d"}), "S", "", "",
       Crlf({"[T]", "b=2", "; d"})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MergeIniText(c.before, c.section, c.key, c.value), c.after) << c.name;
  }
}

// Random files built from every kind of line, in CR LF or LF, for the
// properties below.
class RandomIniFile {
 public:
  explicit RandomIniFile(std::mt19937* rng) : rng_(*rng) {}

  std::string Name(const std::vector<std::string>& names) {
    std::string name = names[Pick(names.size())];
    if (Pick(3) == 0) {
      for (char& c : name) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
      }
    }
    return name;
  }

  std::string Make() {
    std::string out;
    std::string end = Pick(4) == 0 ? "\n" : "\r\n";
    int lines = static_cast<int>(Pick(40));
    for (int i = 0; i < lines; ++i) {
      std::string line;
      switch (Pick(8)) {
        case 0:
          line = std::string(Pick(3), ' ') + "[" + std::string(Pick(2), ' ') + Name(kSections) +
                 std::string(Pick(2), ' ') + "]";
          break;
        case 1:
        case 2:
        case 3:
          line = std::string(Pick(3), ' ') + Name(kKeys) + std::string(Pick(2), ' ') + "=" +
                 Value() + (Pick(3) == 0 ? " ;comment=x" : "");
          break;
        case 4:
          line = std::string(Pick(3), ' ');
          break;
        case 5:
          line = std::string(Pick(2), ' ') + "; comment [x] k=v";
          break;
        case 6:
          line = "other line " + std::to_string(Pick(100));
          break;
        default:
          line = "\t" + Name(kKeys) + "\t=tab";  // tabs are not blanks
          break;
      }
      out += line + end;
    }
    return out;
  }

  std::string Value() {
    static const char kChars[] = "abcXYZ019 .,-_\x87\xA4";
    std::string v;
    std::size_t n = 1 + Pick(8);
    for (std::size_t i = 0; i < n; ++i) v += kChars[Pick(sizeof kChars - 1)];
    if (v.front() == '"' && v.back() == '"') v += "x";
    return v;
  }

  std::size_t Pick(std::size_t n) { return n == 0 ? 0 : rng_() % n; }

  const std::vector<std::string> kSections = {"usuari", "sistema", "pantalla", "menu"};
  const std::vector<std::string> kKeys = {"idioma", "data", "col1", "dir", "k"};

 private:
  std::mt19937& rng_;
};

// Names as the files use them here: ASCII, compared without case or blanks.
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

// The lines of `bytes` without the key lines of `key` inside sections named
// `section`, and without the headers of that name when `drop_headers`.
std::vector<std::string> OtherLines(std::string_view bytes, const std::string& section,
                                    const std::string& key, bool drop_headers) {
  std::vector<std::string> kept;
  bool inside = false;
  for (std::string_view line : SplitIniLines(bytes)) {
    IniLine p = ParseIniLine(line);
    if (p.kind == IniLine::Kind::kHeader) {
      inside = SameName(p.name, section);
      if (inside && drop_headers) continue;
    } else if (inside && p.kind == IniLine::Kind::kKey && SameName(p.name, key)) {
      continue;
    }
    kept.emplace_back(line);
  }
  return kept;
}

TEST(IniMerge, RandomFilesKeepEveryOtherLineAndReadBack) {
  std::mt19937 rng(1234);
  RandomIniFile gen(&rng);
  for (int round = 0; round < 3000; ++round) {
    std::string before = gen.Make();
    std::string section = gen.Name(gen.kSections);
    std::string key = gen.Name(gen.kKeys);
    std::string value = gen.Pick(5) == 0 ? "" : gen.Value();
    std::string after = MergeIniText(before, section, key, value);
    SCOPED_TRACE("round " + std::to_string(round) + " [" + section + "] " + key + "=" + value +
                 "\n" + before);

    ASSERT_EQ(FindIniValue(after, section, key), value);
    // Every line ends in CR LF, and only there are CRs.
    ASSERT_EQ(std::count(after.begin(), after.end(), '\n'),
              std::count(after.begin(), after.end(), '\r'));
    ASSERT_TRUE(after.empty() || after.ends_with("\r\n"));
    // Writing the same again changes nothing.
    ASSERT_EQ(MergeIniText(after, section, key, value), after);
    // All lines but the changed ones survive byte for byte and in order; a
    // new header appears only when the file had no section of the name.
    bool section_existed = false;
    for (std::string_view line : SplitIniLines(before)) {
      IniLine p = ParseIniLine(line);
      section_existed |= p.kind == IniLine::Kind::kHeader && SameName(p.name, section);
    }
    ASSERT_EQ(OtherLines(before, section, key, false),
              OtherLines(after, section, key, !section_existed));
    // Every other key reads as before.
    for (const std::string& s : gen.kSections) {
      for (const std::string& k : gen.kKeys) {
        if (SameName(s, section) && SameName(k, key)) continue;
        ASSERT_EQ(FindIniValue(after, s, k), FindIniValue(before, s, k)) << s << " " << k;
      }
    }
  }
}

}  // namespace
}  // namespace kel
