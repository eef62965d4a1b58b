// Texts of the program that more than one of its runs prints (code page
// 850, Catalan; Translate gives the session language's version).
#ifndef KEL_CONVERT_PROGRAM_TEXTS_H_
#define KEL_CONVERT_PROGRAM_TEXTS_H_

namespace kel {

// The banner of the runs without the form, and of the version.
inline constexpr char kProgramBanner[] = "TAVIRENO versi\xA2 1.01";
inline constexpr char kProgramSubtitle[] = "Localitzaci\xA2 aplicacions KEL";
// Followed by the installation directory.
inline constexpr char kProgramInstallationNotice[] = "Instal\xFAlaci\xA2: ";

}  // namespace kel

#endif  // KEL_CONVERT_PROGRAM_TEXTS_H_
