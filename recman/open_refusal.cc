#include "recman/open_refusal.h"

#include <utility>

namespace kel {
namespace {

OpenRefusal& Last() {
  static OpenRefusal refusal;
  return refusal;
}

}  // namespace

const OpenRefusal& LastOpenRefusal() { return Last(); }

void ClearOpenRefusal() { Last() = OpenRefusal(); }

void NoteOpenRefusal(OpenRefusalKind kind, std::string detail) {
  Last() = OpenRefusal{kind, std::move(detail)};
}

}  // namespace kel
