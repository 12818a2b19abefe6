// How a result code becomes the process exit status on this platform.
#pragma once

int ExitStatusFromResult(long result);
