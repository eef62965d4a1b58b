#include "util/save_stack.h"

#include <algorithm>

namespace kel {

SaveStackState& SaveStackGlobals() {
  static SaveStackState state;
  return state;
}

void ResetSaveStack() { SaveStackGlobals() = SaveStackState(); }

void SavePush(std::string_view text) {
  text = text.substr(0, std::min(text.size(), kMaxSaveEntry));
  std::string& stack = SaveStackGlobals().SaveStack;
  stack.append(text);
  stack += static_cast<char>(text.size() & 0xFF);
  stack += static_cast<char>((text.size() >> 8) & 0xFF);
}

std::string SavePop() {
  std::string& stack = SaveStackGlobals().SaveStack;
  if (stack.size() < 2) {
    stack.clear();
    return "";
  }
  std::size_t n = static_cast<unsigned char>(stack[stack.size() - 2]) |
                  (static_cast<std::size_t>(static_cast<unsigned char>(stack.back())) << 8);
  std::size_t body = stack.size() - 2;
  std::size_t start = n <= body ? body - n : 0;
  std::string text = stack.substr(start, body - start);
  stack.resize(start);
  return text;
}

}  // namespace kel
