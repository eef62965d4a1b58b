// The build's own version, for "--version": the project's version, the
// commit the program was built from and the build type, for example
// "1.01 (01dffb0a1b2c-dirty, Release)". Generated at build time
// (cmake/KelBuildVersion.cmake) into the program's executable only.
#ifndef KEL_STARTUP_BUILD_VERSION_H_
#define KEL_STARTUP_BUILD_VERSION_H_

namespace kel {

const char* BuildVersion();

}  // namespace kel

#endif  // KEL_STARTUP_BUILD_VERSION_H_
