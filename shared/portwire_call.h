#pragma once
// PW_CALL: the calling convention of the library's exports and callbacks and of
// the entry points of the maker's components (__stdcall on Windows, the
// default elsewhere). The build defines it (tw_portwire_abi); this fallback
// keeps headers usable by code built without that target.
#ifndef PW_CALL
#define PW_CALL
#endif
