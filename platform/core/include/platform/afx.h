// The platform class layer in one include: root class and exceptions, strings, arrays and the
// extension-library registration.
#pragma once

#include <platform/win_types.h>
#include <platform/afx_object.h>
#include <platform/afx_string.h>
#include <platform/afx_coll.h>
#include <platform/afx_module.h>
#include <platform/afx_file.h>
#include <platform/afx_time.h>
