#include "util/session_context.h"

#include "util/fixed_text.h"

namespace kel {

SessionContext& Session() {
  static SessionContext context;
  return context;
}

void ResetSession() { Session() = SessionContext(); }

void SetSessionLanguage(std::string_view text) {
  Session().SessionLanguage = FixedText(text, 3);
}

}  // namespace kel
