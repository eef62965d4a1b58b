#include "screen/form_dialog.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "screen/field_editor.h"
#include "screen/form_tables.h"
#include "screen/keyboard.h"
#include "screen/screen_buffer.h"
#include "screen/windows.h"
#include "util/fixed_text.h"
#include "util/save_stack.h"
#include "util/session_context.h"

namespace kel {
namespace {

constexpr std::int16_t kCtrlB = 2;
constexpr std::int16_t kF2 = 0x3C00;
// The lookup key. Form files name it "3e00"; the terminal's F3 key arrives
// as 3D00 (scan code 3D), so a form that lists 3e00 also takes 3D00 for it.
constexpr std::int16_t kF3 = 0x3E00;
constexpr std::int16_t kTerminalF3 = 0x3D00;
constexpr char kTerminalF3AsLookup[] = "3d00=3e00";
// Always an exit key of a form field: help.
constexpr char kHelpKey[] = "3b00";

struct Handlers {
  FormHelpHandler help;
  LookupListHandler lookup;
};

Handlers& Registered() {
  static Handlers handlers;
  return handlers;
}

// The save stack carries 16-bit values as their 2-byte little-endian image.
void PushInt16(std::int16_t value) {
  auto u = static_cast<std::uint16_t>(value);
  const char image[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  SavePush(std::string_view(image, 2));
}

std::int16_t PopInt16() {
  std::string image = SavePop();
  if (image.size() != 2) return 0;
  return static_cast<std::int16_t>(static_cast<std::uint8_t>(image[0]) |
                                   static_cast<std::uint8_t>(image[1]) << 8);
}

bool Editable(std::int16_t form, std::int16_t field) {
  return (FieldAt(form, field).FieldFlags & kFieldNotEditable) == 0;
}

// A key of a follow-on page that ends the pages before it as well.
bool EndsTheChain(std::int16_t key) {
  switch (key) {
    case keys::kPgUp:
    case keys::kPgDn:
    case keys::kEnd:
    case kCtrlB:
    case keys::kEnter:
    case keys::kDown:
    case keys::kUp:
      return true;
    default:
      return false;
  }
}

// True when `target` lies further along the follow-on chain of `form`.
bool ReachableFrom(std::int16_t form, std::int16_t target) {
  if (target == form) return false;
  std::int16_t next = FormAt(form).FormNext;
  // A chain that loops back on itself ends after visiting every form once.
  for (int steps = 0; next > 0 && steps <= FormTables().FormCount; ++steps) {
    if (next == target) return true;
    next = FormAt(next).FormNext;
  }
  return false;
}

class Dialog {
 public:
  Dialog(std::int16_t form, bool first_page, std::int16_t can_page_back,
         std::int16_t can_page_forward)
      : form_(form),
        first_page_(first_page),
        can_page_back_(can_page_back),
        can_page_forward_(can_page_forward) {}

  std::int16_t Run() {
    const Form window_def = FormAt(form_);
    const bool wants_window = window_def.FormWindow[1] != 0;
    const std::int16_t depth_before = Screen().WindowDepth;
    if (wants_window) {
      SetColour("+n");
      WinPush(window_def.FormWindow[1], window_def.FormWindow[2], window_def.FormWindow[3],
              window_def.FormWindow[4]);
      // Only a window that opened is framed and closed again.
      if (Screen().WindowDepth > depth_before) DrawFrame(2);
      SetColour("-");
    }
    const bool window_open = Screen().WindowDepth > depth_before;
    PaintFormNow(form_);

    const std::int16_t count = UsableFieldCount(form_);
    for (std::int16_t k = 1; k <= count; ++k) {
      if (!Editable(form_, k)) continue;
      if (first_ == 0) first_ = k;
      last_ = k;
    }

    std::int16_t key = keys::kEnter;
    if (first_ == 0) {
      // Nothing to edit: the completion check cannot keep the operator here.
      (void)CurrentFormProcedures().check_completion(form_, &key);
    } else {
      bool ended = ResumeChain(&key);
      for (;;) {
        if (!ended) key = FieldLoop(first_);
        ended = false;
        auto check = CurrentFormProcedures().check_completion;
        if (check(form_, &key) == 0) break;
      }
    }
    if (window_open) WinPop();
    FormDialogState& g = FormDialogGlobals();
    g.LastFieldValue.clear();
    g.LastFieldForm = 0;
    g.LastFieldNumber = 0;
    return key;
  }

 private:
  // A chain left with PgUp or PgDn on a later page goes straight back to
  // that page. true when the dialog ends with it (*key set).
  bool ResumeChain(std::int16_t* key) {
    FormDialogState& g = FormDialogGlobals();
    if (g.ResumeForm == 0) return false;
    if (!ReachableFrom(form_, g.ResumeForm)) {
      g.ResumeForm = 0;
      return false;
    }
    std::int16_t field = first_;
    std::int16_t ended_with = RunFollowOn(&field);
    if (!EndsTheChain(ended_with)) return false;
    *key = ended_with;
    return true;
  }

  // Runs the follow-on form as the next page; returns the key it ended with.
  std::int16_t RunFollowOn(std::int16_t* field) {
    // The page's own form and field travel on the save stack across the
    // nested dialog.
    PushInt16(form_);
    PushInt16(*field);
    std::int16_t key = keys::kEsc;
    FormDialog(static_cast<std::int16_t>(-FormAt(form_).FormNext), can_page_back_,
               can_page_forward_, &key);
    const std::int16_t saved_field = PopInt16();
    const std::int16_t saved_form = PopInt16();
    // An application procedure that left the stack unbalanced must not send
    // the page to a form or field that is not its own.
    if (saved_form == form_ && saved_field >= first_ && saved_field <= last_ &&
        Editable(form_, saved_field)) {
      *field = saved_field;
    }
    return key;
  }

  std::int16_t NextEditable(std::int16_t field) const {
    for (std::int16_t k = static_cast<std::int16_t>(field + 1); k <= last_; ++k) {
      if (Editable(form_, k)) return k;
    }
    return field;
  }

  std::int16_t PreviousEditable(std::int16_t field) const {
    for (std::int16_t k = static_cast<std::int16_t>(field - 1); k >= first_; --k) {
      if (Editable(form_, k)) return k;
    }
    return field;
  }

  // The editable field whose value area holds the clicked cell; 0: none.
  std::int16_t FieldAtClick(std::int16_t click) const {
    const int code = -static_cast<int>(click);
    const int row = code % 100;
    const int col = code / 100;
    for (std::int16_t k = first_; k <= last_; ++k) {
      if (!Editable(form_, k)) continue;
      const FieldArea a = FieldValueArea(form_, k);
      if (a.width <= 0) continue;
      if (row >= a.top && row < a.top + a.lines && col >= a.left && col < a.left + a.width) {
        return k;
      }
    }
    return 0;
  }

  // Blanks the information area after a field's value.
  void BlankInformation(std::int16_t field) const {
    const FormField& f = FieldAt(form_, field);
    if (f.FieldAttr4 <= 0) return;
    const FieldArea a = FieldValueArea(form_, field);
    PutText(a.top, static_cast<std::int16_t>(a.left + a.width),
            std::string(static_cast<std::size_t>(f.FieldAttr4), ' '), TextAttribute());
  }

  // Shows lookup list `list` for `field` until the lookup hook is content.
  // true when a row was chosen.
  bool Lookup(std::int16_t list, std::int16_t field) const {
    for (;;) {
      const LookupListHandler handler = Registered().lookup;
      if (!handler) return false;
      // A form run before the list is a dialog of its own, which clears the
      // edit-in-progress globals when it ends; this field is still being
      // edited.
      const FormDialogState saved = FormDialogGlobals();
      const std::int16_t result = handler(list);
      FormDialogState& g = FormDialogGlobals();
      g.LastFieldValue = saved.LastFieldValue;
      g.LastFieldForm = saved.LastFieldForm;
      g.LastFieldNumber = saved.LastFieldNumber;
      if (result != 0) return false;
      std::int16_t asked = list;
      auto after = CurrentFormProcedures().after_lookup;
      after(&asked, form_, field);
      if (asked != 0) return true;
    }
  }

  void OfferHelp() const {
    const std::string_view topic = TrimRight(Session().MenuName);
    const FormHelpHandler handler = Registered().help;
    if (!topic.empty() && handler) handler(topic);
  }

  // Edits `field` until a key that leaves it (help, a lookup without a
  // choice and a rejected value keep the operator in it); returns the key.
  std::int16_t EditOneField(std::int16_t field) {
    const FormField f = FieldAt(form_, field);  // a copy: procedures may write the tables
    const auto length = static_cast<std::size_t>(std::max<std::int16_t>(f.FieldLength, 0));
    const bool starts_blank = (f.FieldFlags & (kFieldStartsBlank | kFieldHidden)) != 0;
    const bool hidden = (f.FieldFlags & kFieldHidden) != 0;
    const auto col =
        static_cast<std::int16_t>(f.FieldColumn + static_cast<int>(f.FieldLabel.size()));
    FormDialogState& g = FormDialogGlobals();

    SetExitKeys("+ea", FormAt(form_).FormKeys + "," + kHelpKey);
    if (FindExitKey(kF3) >= 0 && FindExitKey(kTerminalF3) < 0) {
      SetExitKeys("a", kTerminalF3AsLookup);
    }
    std::string value = starts_blank ? std::string(length, ' ') : FixedText(f.FieldValue, length);
    if (hidden) SetExitKeys("h", "");
    BlankInformation(field);
    auto pos = static_cast<std::int16_t>(
        (f.FieldFlags & kFieldCursorAtEnd) != 0 ? TrimRight(value).size() + 1 : 1);
    std::int16_t key = 0;
    for (;;) {
      SetChoiceList(f.FieldChoices);
      g.LastFieldForm = form_;
      g.LastFieldNumber = field;
      g.LastFieldValue = value;
      EditField(f.FieldRow, col, f.FieldAttr3, &value, &pos, &key);
      g.LastFieldValue = value;
      if (key == keys::kF1) {
        OfferHelp();
        continue;
      }
      if ((key == kF3 || key == kTerminalF3) && f.FieldAttr7 > 0) {
        if (Lookup(f.FieldAttr7, field)) {
          CurrentFormProcedures().paint_field(form_, field);
          key = field == last_ && FormAt(form_).FormNext <= 0 ? keys::kEnter : keys::kDown;
          break;
        }
        Beep();
        continue;
      }
      if (f.FieldAttr4 > 0) {
        DrawFieldValue(form_, field, value);
        BlankInformation(field);
      }
      if (key == keys::kEsc) {
        // The edit is discarded: the stored value shows again.
        CurrentFormProcedures().paint_field(form_, field);
        break;
      }
      // A blank entry in a field that starts blank keeps what was stored.
      std::string accepted = value;
      if (starts_blank && IsBlank(value)) {
        accepted = FixedText(FieldAt(form_, field).FieldValue, length);
      }
      auto accept = CurrentFormProcedures().accept_field;
      if (accept(form_, &accepted, field, &key) == 0) break;
      Beep();
    }
    g.LastFieldValue.clear();
    if (hidden) SetExitKeys("v", "");
    SetExitKeys("-", "");
    SetChoiceList("");
    return key;
  }

  // Moves through the form's fields from `field` until the dialog is to
  // end; returns the key that ends it.
  std::int16_t FieldLoop(std::int16_t field) {
    FormDialogState& g = FormDialogGlobals();
    for (;;) {
      const std::int16_t key = EditOneField(field);
      switch (key) {
        case keys::kPgUp:
          if (field == first_ && can_page_back_ != 0) {
            g.ResumeForm = form_;
            return key;
          }
          field = first_;
          break;
        case keys::kPgDn:
          if (field == last_ && can_page_forward_ != 0) {
            g.ResumeForm = form_;
            return key;
          }
          field = last_;
          break;
        case keys::kEnd:
        case kCtrlB:
          return key;
        case keys::kEsc:
          if (field == first_) return key;
          field = first_;
          break;
        case keys::kEnter:
        case keys::kDown:
        case kF2: {
          if ((key == kF2 || field == last_) && FormAt(form_).FormNext > 0) {
            const std::int16_t ended = RunFollowOn(&field);
            if (EndsTheChain(ended)) return ended;
            break;  // back on this page, in the same field
          }
          if (key == keys::kEnter && field == last_) return key;
          if (key != kF2) field = NextEditable(field);
          break;
        }
        case keys::kUp:
          if (field != first_) {
            field = PreviousEditable(field);
          } else if (!first_page_) {
            return keys::kEsc;  // back to the previous page
          }
          break;
        default:
          if (key < 0) {
            const std::int16_t clicked = FieldAtClick(key);
            if (clicked != 0) field = clicked;
          }
          break;
      }
    }
  }

  std::int16_t form_;
  const bool first_page_;
  const std::int16_t can_page_back_;
  const std::int16_t can_page_forward_;
  std::int16_t first_ = 0;
  std::int16_t last_ = 0;
};

}  // namespace

FormDialogState& FormDialogGlobals() {
  static FormDialogState state;
  return state;
}

void RegisterFormHelp(FormHelpHandler handler) { Registered().help = std::move(handler); }

void RegisterLookupList(LookupListHandler handler) { Registered().lookup = std::move(handler); }

void ResetFormDialog() {
  FormDialogGlobals() = FormDialogState{};
  Registered() = Handlers{};
  SetFormProcedures(DefaultFormProcedures());
}

void FormDialog(std::int16_t form, std::int16_t can_page_back, std::int16_t can_page_forward,
                std::int16_t* key) {
  const bool first_page = form >= 0;
  const int number = first_page ? form : -static_cast<int>(form);
  if (number > INT16_MAX || MutableForm(static_cast<std::int16_t>(number)) == nullptr) {
    *key = keys::kEsc;
    return;
  }
  Dialog dialog(static_cast<std::int16_t>(number), first_page, can_page_back, can_page_forward);
  *key = dialog.Run();
}

}  // namespace kel
