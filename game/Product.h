// The program's name, version, rights notice and icon: each written once here
// and put together wherever the program shows them. They are macros so that
// the texts built from them stay string literals.
#pragma once

#define SLABIX_NAME "Slabix"
#define SLABIX_VERSION "Version D605"
#define SLABIX_RIGHTS "Copyright (C) 2002"
#define SLABIX_ICON ":/icons/slabix.svg"
