#pragma once

// An unlinked file for reading and writing in the temporary folder ($TMPDIR,
// else /tmp): it goes when its descriptor is closed. -1 with errno set when
// none can be made.
int openUnlinkedTemporaryFile();
