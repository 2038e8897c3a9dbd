/* Writes registry keys and values exactly as described on stdin, so that a
   Wine prefix holds the very bytes a machine file gives (reg import adds
   terminators to string types and mangles odd byte counts).

   One record per line, fields separated by one space, every name and path
   as the hex of its UTF-16LE bytes (a field may be empty):
     K ROOT PATH          create or open the key (ROOT: HKLM or HKCU); the
                          records below work on it
     C                    delete every value of the current key
     V NAME TYPE DATA     set a value: TYPE in hex, DATA its exact bytes
                          (read back to make sure)
     N COUNT              the current key must hold exactly COUNT (hex) values
     D ROOT PATH          delete the key, which must have no subkeys; a key
                          that is not there is fine
   Values are set in the order given. Any failure stops the run with a
   message on stderr and exit code 1. */

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static unsigned long line_number;

static void fail(const char *what, long error) {
  if (error)
    fprintf(stderr, "regset: line %lu: %s failed with error %ld\n", line_number, what, error);
  else
    fprintf(stderr, "regset: line %lu: %s\n", line_number, what);
  exit(1);
}

static char *read_all(FILE *in) {
  size_t size = 0, capacity = 1 << 16;
  char *text = malloc(capacity + 1);
  size_t got;
  while (text && (got = fread(text + size, 1, capacity - size, in)) > 0) {
    size += got;
    if (size == capacity) {
      char *grown = realloc(text, capacity * 2 + 1);
      if (!grown) free(text);
      text = grown;
      capacity *= 2;
    }
  }
  if (!text) fail("out of memory", 0);
  if (ferror(in)) fail("cannot read stdin", 0);
  text[size] = '\0';
  return text;
}

/* The next space-separated field of *line (empty at the end of the line). */
static char *field(char **line) {
  char *start = *line;
  char *end = strchr(start, ' ');
  if (end) {
    *end = '\0';
    *line = end + 1;
  } else {
    *line = start + strlen(start);
  }
  return start;
}

static int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

/* The bytes a hex field gives, followed by two bytes of trailer: zeros
   terminate names and paths. */
static BYTE *hex_bytes(const char *hex, DWORD *size, BYTE trailer) {
  size_t length = strlen(hex), i;
  BYTE *bytes;
  if (length % 2) fail("odd number of hex digits", 0);
  bytes = malloc(length / 2 + 2);
  if (!bytes) fail("out of memory", 0);
  for (i = 0; i < length / 2; i++) {
    int high = hex_digit(hex[2 * i]), low = hex_digit(hex[2 * i + 1]);
    if (high < 0 || low < 0) fail("not a hex digit", 0);
    bytes[i] = (BYTE)(high << 4 | low);
  }
  bytes[length / 2] = bytes[length / 2 + 1] = trailer;
  *size = (DWORD)(length / 2);
  return bytes;
}

static DWORD hex_number(char *hex) {
  char *end;
  unsigned long number = strtoul(hex, &end, 16);
  if (*hex == '\0' || *end != '\0') fail("not a hex number", 0);
  return (DWORD)number;
}

static HKEY root_key(const char *name) {
  if (strcmp(name, "HKLM") == 0) return HKEY_LOCAL_MACHINE;
  if (strcmp(name, "HKCU") == 0) return HKEY_CURRENT_USER;
  fail("unknown root key", 0);
  return NULL;
}

static WCHAR *wide(const char *hex) {
  DWORD size;
  WCHAR *text = (WCHAR *)hex_bytes(hex, &size, 0);
  if (size % 2) fail("odd byte count in a UTF-16 name", 0);
  return text;
}

/* Reads the value back: what is stored must be what was given. */
static void check_value(HKEY key, const WCHAR *name, DWORD type, const BYTE *data, DWORD size) {
  DWORD stored_type = 0, stored_size = size + 2;
  BYTE *stored = malloc(stored_size);
  LONG error;
  if (!stored) fail("out of memory", 0);
  error = RegQueryValueExW(key, name, NULL, &stored_type, stored, &stored_size);
  if (error && error != ERROR_MORE_DATA) fail("RegQueryValueExW", error);
  if (error || stored_type != type || stored_size != size || memcmp(stored, data, size) != 0)
    fail("the value was stored with other bytes than given", 0);
  free(stored);
}

static void clear_values(HKEY key) {
  static WCHAR name[16384];
  for (;;) {
    DWORD length = sizeof name / sizeof name[0];
    LONG error = RegEnumValueW(key, 0, name, &length, NULL, NULL, NULL, NULL);
    if (error == ERROR_NO_MORE_ITEMS) return;
    if (error) fail("RegEnumValueW", error);
    error = RegDeleteValueW(key, name);
    if (error) fail("RegDeleteValueW", error);
  }
}

static void run(char *text) {
  HKEY key = NULL;
  char *next;
  for (; *text; text = next) {
    char *line = text, *kind;
    LONG error;
    next = strchr(text, '\n');
    if (next) *next++ = '\0';
    else next = text + strlen(text);
    line_number++;
    if (*line && line[strlen(line) - 1] == '\r') line[strlen(line) - 1] = '\0';
    kind = field(&line);
    if (strcmp(kind, "K") == 0) {
      HKEY root = root_key(field(&line));
      WCHAR *path = wide(field(&line));
      if (key) RegCloseKey(key);
      key = NULL;
      error = RegCreateKeyExW(root, path, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, NULL, &key, NULL);
      free(path);
      if (error) fail("RegCreateKeyExW", error);
    } else if (strcmp(kind, "D") == 0) {
      HKEY root = root_key(field(&line));
      WCHAR *path = wide(field(&line));
      error = RegDeleteKeyW(root, path);
      free(path);
      if (error && error != ERROR_FILE_NOT_FOUND) fail("RegDeleteKeyW", error);
    } else if (!key && *kind) {
      fail("a value record before any K record", 0);
    } else if (strcmp(kind, "C") == 0) {
      clear_values(key);
    } else if (strcmp(kind, "V") == 0) {
      WCHAR *name = wide(field(&line));
      DWORD type = hex_number(field(&line)), size;
      /* RegSetValueExW counts one more character for string data that
         lacks its terminator when a zero character follows it in memory. */
      BYTE *data = hex_bytes(field(&line), &size, 0xff);
      error = RegSetValueExW(key, name, 0, type, data, size);
      if (error) fail("RegSetValueExW", error);
      check_value(key, name, type, data, size);
      free(name);
      free(data);
    } else if (strcmp(kind, "N") == 0) {
      DWORD wanted = hex_number(field(&line)), count;
      error = RegQueryInfoKeyW(key, NULL, NULL, NULL, NULL, NULL, NULL, &count, NULL, NULL, NULL, NULL);
      if (error) fail("RegQueryInfoKeyW", error);
      if (count != wanted) fail("the key holds other values than those set", 0);
    } else if (*kind) {
      fail("unknown record", 0);
    }
    if (*line) fail("extra fields", 0);
  }
  if (key) RegCloseKey(key);
}

int main(void) {
  _setmode(_fileno(stdin), _O_BINARY);
  run(read_all(stdin));
  return 0;
}
