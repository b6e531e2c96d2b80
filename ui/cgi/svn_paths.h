// svn_paths.h: where the package keeps its repositories and its tool.
//
// The build defines SVN_PACKAGE_DIR (the appliance's package directory, or
// a sandbox for tests); every fixed path of the program derives from it
// here and nowhere else.
#ifndef SVN_PATHS_H_
#define SVN_PATHS_H_

#ifndef SVN_PACKAGE_DIR
#error "SVN_PACKAGE_DIR must be defined by the build"
#endif

// The directory holding one directory per repository.
#define SVN_REPO_ROOT SVN_PACKAGE_DIR "/repo"

// The package's repository tool, run as "svnadmin create PATH".
#define SVN_ADMIN_TOOL SVN_PACKAGE_DIR "/bin/svnadmin"

#endif  // SVN_PATHS_H_
