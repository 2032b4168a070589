#pragma once
// The data of the script host's "EVENT_NOTIFY": the update query's result, passed by
// address. The strings belong to the script and are valid only while the event is being
// dispatched; a listener copies what it keeps. An empty `url` means the query failed.
struct NotifyRecord {
  const char* kind;     // always "installer"
  const char* url;      // download address of the newest package
  const char* md5;      // the package's MD5 as the server states it
  const char* size;     // size in bytes, decimal text
  const char* version;  // newest version
};

// Five 32-bit pointers on the product: listeners are told a data length of 20.
static_assert(sizeof(void*) != 4 || sizeof(NotifyRecord) == 20, "NotifyRecord layout");
