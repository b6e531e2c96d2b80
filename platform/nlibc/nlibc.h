/*
 * nlibc.h: the appliance's utility library (our stand-in).
 *
 * Runs programs, edits configuration files in Subversion's config format,
 * and keeps string hashes and string lists.
 *
 * Conventions
 * - Results: a function returns an int, 0 or positive on success and
 *   negative on failure, unless its comment says otherwise.  After a
 *   failure NLIBCErrGet() gives one of the codes listed below; a success
 *   leaves the last code as it was.
 * - Strings: every string argument is a NUL-terminated text owned by the
 *   caller and only read.  Strings handed back (NLIBCSzHashGetValue,
 *   NLIBCSzListGet) stay owned by their container and live until the
 *   container changes or is freed.
 * - Handles: PNLIBSZHASH and PNLIBSZLIST are made by their Alloc function
 *   and released by their Free function.  Containers copy every key and
 *   value they are given and free the copies themselves.  A function that
 *   takes a handle's address may replace the handle (for instance to grow
 *   it); the caller goes on with, and frees, what its variable then holds.
 * - Sizes: the size given to an Alloc function is an initial capacity; a
 *   container grows past it.
 * - Flags: every "flags" argument is reserved and must be 0.
 *
 * Configuration files
 *   Files are read the way Subversion reads svnserve.conf and passwd:
 *   '#' starts a comment only in column 0; "[name]" in column 0 starts a
 *   section; "key = value" or "key: value" in column 0 is an option, with
 *   blanks around key and value trimmed; an indented line right after an
 *   option continues its value; key and section names compare ignoring
 *   ASCII case, repeated sections merge and the last of repeated keys wins.
 *   Values are given as Subversion gives them to svnserve: a key missing
 *   from a section that holds other options is taken from [DEFAULT], and
 *   "%(name)s" is replaced by the value of the option "name" of the same
 *   section (or [DEFAULT]).  Like svnserve, each option is expanded once:
 *   an option of [DEFAULT] has the value it expands to in [DEFAULT]
 *   itself, for every section that falls back on it.  Like Subversion, an option line of a section
 *   that already holds other options, but not this one, sets the option
 *   of [DEFAULT] instead when [DEFAULT] holds it already.
 *   A file that Subversion would refuse to parse is refused here too
 *   (NLIBC_E_SYNTAX).
 *
 *   A file is read only when it is a regular file (a link to one is
 *   followed) of at most NLIBC_CONF_MAX_SIZE bytes; it is opened without
 *   blocking, so a FIFO or a device in its place is refused at once
 *   (NLIBC_E_READ), never waited on or read.
 *
 *   A write replaces the file atomically: a temporary file with a unique
 *   name (created with O_EXCL, never through what someone placed there)
 *   in the file's own directory, written, given the file's mode, owner
 *   and group (a group that cannot be given refuses the write, since its
 *   members, svnserve perhaps, could not read the new file) and synced,
 *   renamed over the file, then the directory synced.  At any
 *   moment the file is either the old or the new version; a failed write
 *   removes its temporary file.  When the path is a symbolic link, the
 *   link stays and the file it leads to is replaced, in its directory.
 *   A handle writes into the directory it opened (at NLIBCConfOpen with
 *   NLIBC_CONF_LOCK, else at its first write) through that directory's
 *   descriptor: where the directory has been renamed or moved since (the
 *   repository holding it renamed), the file is written there all the
 *   same, and a path swapped meanwhile is never followed.
 *   Writers lock that directory (exclusively) around the read-modify-
 *   write, so concurrent writers never lose each other's change.  A write
 *   changes only the lines it is about; every other byte stays as it was.
 *   Before anything is written the new text is parsed again and every
 *   value Subversion would look up, and every option each section holds,
 *   must be as before, except the one being written, which must read
 *   back as written; otherwise nothing is written (NLIBC_E_UNFAITHFUL).
 *
 *   What cannot be written faithfully is refused, writing nothing:
 *   - any text holding CR, LF or NUL (NLIBC_E_BADCHAR);
 *   - a key that is empty, starts or ends with white space, starts with
 *     '#' or '[', or holds '=' or ':' (NLIBC_E_BADKEY);
 *   - a value that starts or ends with white space (NLIBC_E_BADVALUE);
 *   - a single value holding "%(" (Subversion might expand it)
 *     (NLIBC_E_BADVALUE); among a section's options, "%(" may stand where
 *     it reads back as it stands (NLIBC_E_UNFAITHFUL otherwise);
 *   - two keys of one section that Subversion would take for one name,
 *     being equal but for ASCII case (NLIBC_E_DUPKEY).
 *
 *   The NLIBCFile* calls each make one read or one read-modify-write and
 *   address the file's first section by its name.  A PNLIBCONF (NLIBCConf*
 *   calls) holds one file parsed once, addresses sections by name, and
 *   writes all its edits back with one NLIBCConfSave.
 *
 * Error codes (NLIBCErrGet)
 *   1  NLIBC_E_ARG       an argument is null, empty where it may not be,
 *                        or a flag is set
 *   2  NLIBC_E_NOMEM     out of memory
 *   3  NLIBC_E_READ      the file cannot be opened or read
 *   4  NLIBC_E_WRITE     the new file cannot be written, synced or renamed
 *                        into place (full disk, permissions)
 *   5  NLIBC_E_LOCK      the file's directory cannot be locked
 *   6  NLIBC_E_SYNTAX    the file, or the text after the edit, is not
 *                        valid Subversion config syntax
 *   7  NLIBC_E_NOTFOUND  no line, section or key matches
 *   8  NLIBC_E_OVERFLOW  the result does not fit the caller's buffer
 *   9  NLIBC_E_BADCHAR   a text holds CR, LF or NUL
 *   10 NLIBC_E_BADKEY    a key cannot be written faithfully
 *   11 NLIBC_E_BADVALUE  a value cannot be written faithfully
 *   12 NLIBC_E_DUPKEY    two keys of one section differ only in case
 *   13 NLIBC_E_UNFAITHFUL  the edit would change more than asked
 *   14 NLIBC_E_EXEC      the program cannot be started
 *   15 NLIBC_E_CHILD     the program exited non-zero or was killed
 */
#ifndef NLIBC_H_
#define NLIBC_H_

#ifdef __cplusplus
extern "C" {
#endif

enum {
  NLIBC_E_NONE = 0,
  NLIBC_E_ARG = 1,
  NLIBC_E_NOMEM = 2,
  NLIBC_E_READ = 3,
  NLIBC_E_WRITE = 4,
  NLIBC_E_LOCK = 5,
  NLIBC_E_SYNTAX = 6,
  NLIBC_E_NOTFOUND = 7,
  NLIBC_E_OVERFLOW = 8,
  NLIBC_E_BADCHAR = 9,
  NLIBC_E_BADKEY = 10,
  NLIBC_E_BADVALUE = 11,
  NLIBC_E_DUPKEY = 12,
  NLIBC_E_UNFAITHFUL = 13,
  NLIBC_E_EXEC = 14,
  NLIBC_E_CHILD = 15
};

/* The largest configuration file read, in bytes. */
#define NLIBC_CONF_MAX_SIZE (32 * 1024 * 1024)

/* A string list.  nItem is the number of strings; read it, never write. */
typedef struct NLIBSZLIST {
  int nItem;
  int nCap;
  char **ppszItem;
} NLIBSZLIST, *PNLIBSZLIST;

/* A string hash: keys (compared exactly) to values, kept in the order in
 * which keys were first set. */
typedef struct NLIBSZHASH NLIBSZHASH, *PNLIBSZHASH;

/* The code of the last failure in this library (0 if none yet). */
int NLIBCErrGet(void);

/* ---- Processes ---- */

/* Runs the program szProg with up to four arguments, stopping at the first
 * null one; argv[0] is szProg.  The program runs directly (no shell), with
 * stdin from /dev/null, its stdout sent to our stderr (so it can never mix
 * into our own output), and an environment of only PATH, HOME, TMPDIR and
 * TZ from ours (a CGI request's variables stay out) plus LC_ALL=C.UTF-8.
 * Waits for it to end.
 * Returns 0 when it exited with status 0; negative when it could not start
 * (NLIBC_E_EXEC) or exited non-zero or was killed (NLIBC_E_CHILD). */
int NLIBCExec(const char *szProg, const char *szArg1, const char *szArg2,
              const char *szArg3, const char *szArg4);

/* ---- Files ---- */

/* The NLIBCFile* calls, NLIBCStrTrimSpace, NLIBCSzHashCount and
 * NLIBCSzListAdd belong to the library's interface as the appliance's
 * programs know it; svn.cgi itself edits files through the NLIBCConf*
 * calls below.  They are kept, and tested, as the library's own. */

/* Non-zero if szPath names an existing file (links followed), else 0. */
int NLIBCFileExist(const char *szPath);

/* Reads the value of szKey in the file's first section, as Subversion
 * would use it (the last of repeated keys; from [DEFAULT] when the section
 * has none but holds other options; %(name)s expanded).  Returns 0
 * when no active line holds the key, leaving szBuf untouched; 1 when the
 * value, NUL-terminated, is in szBuf; negative on failure,
 * NLIBC_E_OVERFLOW when the value does not fit nBufSize bytes. */
int NLIBCFileGetKeyValue(const char *szFile, const char *szKey, char *szBuf,
                         int nBufSize, int nFlags);

/* Sets szKey to szValue in the file's first section: replaces the value of
 * the line Subversion would use; without an active line, activates the
 * first commented-out line of the key ("# key = old"); without one, adds
 * "key = value" at the end of the section.  Returns 0, or negative. */
int NLIBCFileSetKeyValue(const char *szFile, const char *szKey,
                         const char *szValue, int nFlags);

/* With bActive 1: makes the first commented-out line of the token's key in
 * the first section an active line starting in column 0 ("# realm = x"
 * becomes "realm = x"); without one, succeeds without change when the key
 * has an active line already, else NLIBC_E_NOTFOUND.
 * With bActive 0: comments out every active line of the token's key in the
 * first section (and the continuation lines of its value), so that the
 * key is absent afterwards; succeeds without change when there is none.
 * Returns 0, or negative. */
int NLIBCFileLineComment(const char *szFile, const char *szLineToken,
                         int bActive);

/* Copies the active line of the token's key that Subversion would use (the
 * last one) into szBuf, without its line end.  Returns 0, or negative:
 * NLIBC_E_NOTFOUND without such a line, NLIBC_E_OVERFLOW when it does not
 * fit. */
int NLIBCFileGetLine(const char *szFile, const char *szLineToken,
                     char *szBuf, int nBufSize, int nFlags);

/* Replaces the line that NLIBCFileGetLine finds by szText (a single line).
 * The new line may change only the token's key.  Returns 0, or negative. */
int NLIBCFileSetLine(const char *szFile, const char *szLineToken,
                     const char *szText, int nFlags);

/* Reads the options of section szSection (all its repeats merged, names
 * equal but for case counted once with their first spelling and last
 * value) into *ppHash, adding to what it holds; a file without the
 * section adds nothing.  Returns 0, or negative. */
int NLIBCFileGetSection(const char *szFile, const char *szSection,
                        PNLIBSZHASH *ppHash);

/* Makes the options of section szSection exactly pHash's pairs, editing
 * its lines in place (keys compared as the file's names compare):
 * - a key the section holds keeps its line, byte for byte when the line
 *   spells the key as the hash does and holds its value, else rewritten
 *   on it with the hash's spelling and value (the separator and the
 *   blanks around it kept, the old value's continuation lines removed);
 *   a key written more than once keeps the last line, the one that wins,
 *   and loses the earlier ones;
 * - a key missing from the hash loses its lines (continuations included);
 * - keys new to the section follow in the hash's order, right after its
 *   last option line kept (in the last block holding one); without one,
 *   where its first removed line stood; without that, at the end of its
 *   first block, after its comments; a missing section is appended;
 * - comments and blank lines stay where they are.
 * szReserved must be null.  Returns 0, or negative (see the refusals
 * above). */
int NLIBCFileSetSection(const char *szFile, const char *szSection,
                        const char *szReserved, PNLIBSZHASH pHash,
                        int nFlags);

/* ---- Configuration files held in memory ---- */

/* One configuration file, read and parsed once.  Values are read and
 * edited in memory, each edit checked as the file's writes are (a refused
 * edit changes nothing), and written back by NLIBCConfSave.  Made by
 * NLIBCConfOpen, released by NLIBCConfFree. */
typedef struct NLIBCONF NLIBCONF, *PNLIBCONF;

/* Flags of NLIBCConfOpen. */
#define NLIBC_CONF_LOCK 0x1     /* lock the file's directory, exclusively,
                                   until NLIBCConfFree */
#define NLIBC_CONF_OPTIONAL 0x2 /* a missing file opens as an empty one */
#define NLIBC_CONF_EXACT 0x4    /* read as Subversion reads authz files:
                                   names compare exactly, no [DEFAULT],
                                   no %(name)s expansion */
#define NLIBC_CONF_UNLOCKED 0x8 /* writes take no lock of the directory
                                   (one anyone who can read it can take):
                                   the caller keeps every other writer of
                                   the file away; not with NLIBC_CONF_LOCK.
                                   The directory is opened (not locked)
                                   with the handle: writes land there,
                                   wherever it has moved since */

/* Reads and parses szFile (links followed; see "Configuration files").
 * Null on failure: NLIBC_E_READ (missing, not a regular file, too large,
 * unreadable; or its %(name)s expansions refused: a value expanding past
 * NLIBC_CONF_MAX_SIZE bytes, expanded values adding up to more, or values
 * that would depend on the order in which svnserve happens to expand its
 * sections), NLIBC_E_SYNTAX, NLIBC_E_LOCK, NLIBC_E_NOMEM. */
PNLIBCONF NLIBCConfOpen(const char *szFile, int nFlags);

/* Parses the nSize bytes at szText (which need not end in NUL) as a file
 * that is not on the file system, such as one kept in a repository
 * (nFlags: 0 or NLIBC_CONF_EXACT).  It is read and edited as a file is,
 * and never saved (NLIBCConfSave: NLIBC_E_ARG).  Null on failure:
 * NLIBC_E_SYNTAX, NLIBC_E_NOMEM, NLIBC_E_ARG. */
PNLIBCONF NLIBCConfParse(const char *szText, unsigned long nSize, int nFlags);

/* Releases the handle and its lock; null is allowed.  Unsaved edits are
 * dropped. */
void NLIBCConfFree(PNLIBCONF pConf);

/* The value svnserve gets for szKey of szSection, or null when it gets
 * none.  The text lives until the next call with this handle. */
const char *NLIBCConfGet(PNLIBCONF pConf, const char *szSection,
                         const char *szKey);

/* Sets szKey of szSection to szValue: replaces the value of the line
 * Subversion uses; without an active line, activates the section's first
 * commented-out line of the key ("# key = old"); without one, adds
 * "key = value" at the end of the section, or the section at the end of
 * the file.  When the section takes the key from [DEFAULT] and such a
 * line would set [DEFAULT]'s instead (see "Configuration files"), the
 * line goes in a block of the section at the top of the file, before
 * [DEFAULT] holds anything (made there if need be; later keys of this
 * kind join it), or else as the first option line of the section's
 * first block: svnserve then takes it for that section only.  Returns 0,
 * or negative (NLIBC_E_UNFAITHFUL when even there it would change
 * another value). */
int NLIBCConfSet(PNLIBCONF pConf, const char *szSection, const char *szKey,
                 const char *szValue);

/* Makes the first commented-out line of szKey in szSection active,
 * starting in column 0, with the value it holds; succeeds unchanged when
 * the key has an active line already, else NLIBC_E_NOTFOUND (a value the
 * section takes from [DEFAULT] is no line of its own).
 * NLIBC_E_UNFAITHFUL when the line, active where it stands, would set
 * [DEFAULT]'s value or change another (NLIBCConfSet gives the section a
 * value of its own). */
int NLIBCConfActivate(PNLIBCONF pConf, const char *szSection,
                      const char *szKey);

/* Comments out every active line of szKey in szSection, so that svnserve
 * gets no value for it (NLIBC_E_UNFAITHFUL when [DEFAULT] would still give
 * one, whether the section has a line of its own or not); succeeds
 * unchanged when there is none. */
int NLIBCConfComment(PNLIBCONF pConf, const char *szSection,
                     const char *szKey);

/* Adds to *ppHash every key svnserve finds looking up szSection, with the
 * value it gets: the section's own options (as NLIBCFileGetSection) and,
 * when it holds any, those of [DEFAULT] it does not hold. */
int NLIBCConfGetSection(PNLIBCONF pConf, const char *szSection,
                        PNLIBSZHASH *ppHash);

/* Makes the options of szSection exactly pHash's pairs (as
 * NLIBCFileSetSection), so that NLIBCConfGetSection then finds exactly
 * them (NLIBC_E_UNFAITHFUL when [DEFAULT] would add others). */
int NLIBCConfSetSection(PNLIBCONF pConf, const char *szSection,
                        PNLIBSZHASH pHash);

/* The file's text as it stands, edits included, and its size in *pnSize
 * (it may hold NUL bytes); it lives until the next call with this handle.
 * Null for a null handle. */
const char *NLIBCConfText(PNLIBCONF pConf, unsigned long *pnSize);

/* Replaces the contents of *ppList by the names of the file's sections,
 * each once, in the order they first appear. */
int NLIBCConfGetSections(PNLIBCONF pConf, PNLIBSZLIST *ppList);

/* Replaces the contents of *ppNames and *ppValues by every option line of
 * szSection, in order, as written (repeated names are not merged): the
 * i-th name goes with the i-th value. */
int NLIBCConfGetEntries(PNLIBCONF pConf, const char *szSection,
                        PNLIBSZLIST *ppNames, PNLIBSZLIST *ppValues);

/* Sets each of the nCount sections pszSections[i] to the pairs of
 * pHashes[i] (as NLIBCConfSetSection), or, for a null hash, removes it
 * (its headers and option lines; comments stay): one edit, checked once,
 * however many sections it touches. */
int NLIBCConfSetSections(PNLIBCONF pConf, int nCount,
                         const char *const *pszSections,
                         const PNLIBSZHASH *pHashes);

/* Renames the section szSection to szNew where it stands: the name in
 * each of its header lines is replaced and every other byte kept (the
 * rest of those lines, the section's options and comments, the order of
 * the file).  NLIBC_E_NOTFOUND without such a section, NLIBC_E_DUPKEY
 * when the file holds a section named szNew already, NLIBC_E_ARG for a
 * name a header cannot hold (empty, or holding ']'), NLIBC_E_BADCHAR for
 * one holding CR, LF or NUL. */
int NLIBCConfRenameSection(PNLIBCONF pConf, const char *szSection,
                           const char *szNew);

/* Whether szKey = szValue could be written as an option, or pHash's pairs
 * as a section's options, without writing anything: 0, or negative with
 * the code a write would refuse them with. */
int NLIBCConfCheckValue(const char *szKey, const char *szValue);
int NLIBCConfCheckSection(PNLIBSZHASH pHash);

/* Flags of NLIBCConfSave. */
#define NLIBC_SAVE_IN_PLACE 0x1 /* rewrite the file itself instead of
                                   replacing it, only starting its
                                   writeback (see NLIBCConfSync): only for
                                   a file that no one else uses yet */
#define NLIBC_SAVE_PRIVATE 0x2  /* the file is a secret: clear its
                                   permission bits for others */

/* Writes the edited text to the file, durably, when it differs from what
 * the file held (with NLIBC_SAVE_PRIVATE also when only the mode must
 * change).  A handle opened without NLIBC_CONF_LOCK takes the lock for
 * the write, unless opened with NLIBC_CONF_UNLOCKED.  Returns 0, or negative (NLIBC_E_WRITE, NLIBC_E_LOCK); a
 * failure after the new file was renamed into place (syncing the
 * directory) leaves the new text there. */
int NLIBCConfSave(PNLIBCONF pConf, int nFlags);

/* After NLIBCConfSave with NLIBC_SAVE_IN_PLACE: makes the file durable.
 * Files saved in place one after another and then synced are written
 * out together.  Returns 0, or negative (NLIBC_E_WRITE). */
int NLIBCConfSync(PNLIBCONF pConf);

/* After NLIBCConfSave: puts back the text the file held when opened (a
 * file that did not exist is removed).  Succeeds unchanged when nothing
 * was written.  Returns 0, or negative. */
int NLIBCConfRestore(PNLIBCONF pConf);

/* ---- Strings ---- */

/* Non-zero when the nSize bytes at szText are valid UTF-8 (no overlong
 * forms, no surrogates), else 0. */
int NLIBCStrValidUtf8(const char *szText, unsigned long nSize);

/* Strips white space from both ends of szBuf, in place.  Returns 0, or
 * negative for a null buffer. */
int NLIBCStrTrimSpace(char *szBuf, int nFlags);

/* ---- String hashes ---- */

/* A new empty hash with room for nSize pairs; null on failure. */
PNLIBSZHASH NLIBCSzHashAlloc(int nSize);

/* Releases the hash and everything it holds; null is allowed. */
void NLIBCSzHashFree(PNLIBSZHASH pHash);

/* Adds the pair, or replaces the value of a key already held.
 * Returns 0, or negative. */
int NLIBCSzHashSetValue(PNLIBSZHASH *ppHash, const char *szKey,
                        const char *szValue);

/* The value of szKey, or null when the hash does not hold it. */
const char *NLIBCSzHashGetValue(PNLIBSZHASH pHash, const char *szKey);

/* Number of pairs in the hash (0 for null). */
int NLIBCSzHashCount(PNLIBSZHASH pHash);

/* Replaces the contents of *ppList by the hash's keys, in the hash's
 * order.  Returns 0, or negative. */
int NLIBCSzHashEnumKey(PNLIBSZHASH pHash, PNLIBSZLIST *ppList);

/* ---- String lists ---- */

/* A new empty list with room for nSize strings; null on failure. */
PNLIBSZLIST NLIBCSzListAlloc(int nSize);

/* Releases the list and its strings; null is allowed. */
void NLIBCSzListFree(PNLIBSZLIST pList);

/* Appends a copy of szItem.  Returns 0, or negative. */
int NLIBCSzListAdd(PNLIBSZLIST *ppList, const char *szItem);

/* The string at nIndex (from 0), or null when out of range. */
const char *NLIBCSzListGet(PNLIBSZLIST pList, int nIndex);

#ifdef __cplusplus
}
#endif

#endif /* NLIBC_H_ */
