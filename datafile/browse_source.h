// The data-file layer as the browse list's record source (screen/
// browse_list.h): the list reads its file through DbFind, DbStep,
// DbPosition, DbKeyText, DbSortKey and switches its lock mode with
// DbLockMode. The program installs it once at start-up.
#ifndef KEL_DATAFILE_BROWSE_SOURCE_H_
#define KEL_DATAFILE_BROWSE_SOURCE_H_

#include "screen/browse_list.h"

namespace kel {

// The process's data-file record source (lives until exit).
BrowseRecordSource& DataFileBrowseSource();

// RegisterBrowseRecordSource(&DataFileBrowseSource()).
void UseDataFileBrowseSource();

}  // namespace kel

#endif  // KEL_DATAFILE_BROWSE_SOURCE_H_
