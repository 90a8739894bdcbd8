#pragma once

// The process environment (environ) is shared with PHP scripts, which may
// call putenv() on another worker while we read it. Whoever reads or changes
// the environment while scripts may run takes this lock.
void lockProcessEnvironment();
void unlockProcessEnvironment();
