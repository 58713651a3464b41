/* What Visual C++'s <excpt.h> gives the Windows SDK's <windows.h>. */
#pragma once
typedef enum _EXCEPTION_DISPOSITION {
    ExceptionContinueExecution,
    ExceptionContinueSearch,
    ExceptionNestedException,
    ExceptionCollidedUnwind
} EXCEPTION_DISPOSITION;
