// Every line the host itself prints about a command, a file or a batch, as
// whole format strings: "{0}", "{1}"... are filled in by Format (format.h).
// This is the one place where they are written. The library's own messages
// are processing/messages.h; --help is help.cpp; the edits' summaries and
// the meaning of each result code are edits.cpp.
#pragma once

#include <string_view>

namespace tintwell_cli::text {

using Text = std::string_view;

// ---- What read found, on stdout --------------------------------------------

// {0} the file, {1} what it is.
inline constexpr Text kReadAnswerLine = "{0}: {1}";
// {0} width, {1} height, {2} the file's size in bytes.
inline constexpr Text kReadEditable = "a {0} x {1} 24-bit BMP picture of {2} bytes, which tintwell can edit";
// {0} width, {1} height, {2} bits per pixel, {3} the file's size in bytes.
inline constexpr Text kReadOtherKind =
    "a {0} x {1} BMP picture of {2} bits per pixel and {3} bytes, which tintwell edits through a 24-bit copy";
// {0} why tintwell does not edit it (read with --force).
inline constexpr Text kReadNotEditable = "read as it stands, but tintwell does not edit it: {0}";

// ---- Lines on stderr ------------------------------------------------------

// A file the host will not go on with: {0} the file, {1} why, {2} what to
// do instead.
inline constexpr Text kRefusedLine = "tintwell: {0}: {1}";
inline constexpr Text kRefusedNothingWrittenLine = "tintwell: {0}: {1}; nothing written";
inline constexpr Text kRefusedHintLine = "tintwell: {0}: {1} ({2})";
inline constexpr Text kRefusedNothingWrittenHintLine = "tintwell: {0}: {1}; nothing written ({2})";
// A remark about a file that was written all the same.
inline constexpr Text kFileRemarkLine = "tintwell: {0}: {1}";
inline constexpr Text kWarningLine = "tintwell: warning: {0}";
inline constexpr Text kErrorLine = "tintwell: {0}";
inline constexpr Text kUsageLine = "tintwell: {0}\nTry 'tintwell --help' for more information.";

// ---- Why a system call failed, where the system's own words are not the
// ones a user expects ------------------------------------------------------

// The system's words alone.
inline constexpr Text kSystemWords = "{0}";
// A result code other than success: {0} the code, {1} its meaning.
inline constexpr Text kResultReason = "result {0}: {1}";
inline constexpr Text kNoSuchFile = "no such file";
inline constexpr Text kPermissionDenied = "permission denied";
inline constexpr Text kReadOnlyFileSystem = "a read-only file system";
inline constexpr Text kNotADirectoryOnPath = "a part of its path is not a directory";
inline constexpr Text kNoSpaceOnDevice = "no space left on the device";
inline constexpr Text kPathMissing = "a part of its path does not exist";
inline constexpr Text kInUse = "in use by another program";
inline constexpr Text kWriteProtected = "a write-protected disk";
inline constexpr Text kNoSpaceOnDisk = "no space left on the disk";
// Windows: the system's text for any other error, and its number.
inline constexpr Text kWindowsError = "{0} (error {1})";
inline constexpr Text kUnknownSystemError = "system error";

// ---- The input --------------------------------------------------------------

inline constexpr Text kInputNotReadable = "not readable (permission denied)";
inline constexpr Text kInputIsDirectory = "a directory, not a picture";
inline constexpr Text kInputUnreadable = "cannot be read: {0}";
inline constexpr Text kNotAPicture = "{0}; tintwell cannot edit it exactly";
// A conversion that writes the one kind every BMP reader knows.
inline constexpr Text kConvertHint = "convert IN BMP3:OUT or gm convert IN BMP3:OUT writes a BMP that tintwell edits";

// ---- Why a file is not a picture the library edits correctly ----------------

inline constexpr Text kEmptyFile = "an empty file";
inline constexpr Text kNotBmp = "not a BMP file";
inline constexpr Text kHeaderCut = "the file ends after {0} of {1} header bytes";
inline constexpr Text kInfoHeaderSize = "a {0}-byte information header, not {1}";
inline constexpr Text kBitsPerPixel = "{0} bits per pixel";
inline constexpr Text kOneBitPerPixel = "1 bit per pixel";
inline constexpr Text kCompressed = "compressed pixels ({0})";
inline constexpr Text kMethodRle8 = "RLE8";
inline constexpr Text kMethodRle4 = "RLE4";
inline constexpr Text kMethodBitFields = "bit fields";
inline constexpr Text kMethodJpeg = "JPEG, or RLE24 in an OS/2 file";
inline constexpr Text kMethodPng = "PNG";
inline constexpr Text kMethodAlphaBitFields = "alpha bit fields";
inline constexpr Text kMethodNumber = "method {0}";
inline constexpr Text kPixelsElsewhere = "pixels start at byte {0}, not {1}";
inline constexpr Text kNegativeWidth = "negative width ({0})";
inline constexpr Text kZeroWidth = "no pixels across (width 0)";
inline constexpr Text kTopDown = "top-down rows (negative height)";
inline constexpr Text kZeroHeight = "no rows (height 0)";
inline constexpr Text kTooManyPixels = "{0} x {1} pixels, more than the library's limit of {2} pixel bytes";
inline constexpr Text kFileCut = "the file ends after {0} of {1} bytes";

// ---- Why another kind of BMP file cannot be adapted -------------------------

inline constexpr Text kHeaderCutAt = "the file ends inside its header, after {0} bytes";
inline constexpr Text kUnknownInfoHeader = "an unknown {0}-byte information header";
inline constexpr Text kEmbeddedJpeg = "an embedded JPEG picture, not BMP pixels";
inline constexpr Text kEmbeddedPng = "an embedded PNG picture, not BMP pixels";
inline constexpr Text kHuffman = "OS/2 Huffman-coded pixels";
inline constexpr Text kRle24 = "OS/2 RLE24-coded pixels";
// {0} the channel ("red"...), {1} its mask in hexadecimal.
inline constexpr Text kMaskUnusable = "its {0} mask 0x{1} is wider than 8 bits or not contiguous";
inline constexpr Text kEmptyMask = "an empty {0} mask: the picture has no {0}";
inline constexpr Text kRed = "red";
inline constexpr Text kGreen = "green";
inline constexpr Text kBlue = "blue";
inline constexpr Text kMasksOverlap = "its colour masks overlap";
inline constexpr Text kPaletteTooLong = "a palette of {0} colours that runs into its pixels";
inline constexpr Text kPixelsInsideHeader = "pixels start at byte {0}, inside its header or palette";
inline constexpr Text kTopDownRle = "RLE-coded top-down rows (negative height)";
inline constexpr Text kTooManyStaged = "more pixels than the library's limit of {0} pixel bytes";
inline constexpr Text kRleDamaged = "a damaged RLE stream: a run or a move goes past the picture";
inline constexpr Text kRleUnended = "a damaged RLE stream: it ends before its end-of-picture code";
// Noise gives every pixel a colour of its own, which a palette cannot hold.
inline constexpr Text kNoiseInPalette = "noise cannot be kept in a palette of {0} colours";
inline constexpr Text kNoiseHint = "--to-24-bit writes it as a 24-bit picture instead";

// A picture edited through a 24-bit copy: what the library's messages describe.
inline constexpr Text kStagedRemark = "edited as a 24-bit copy of {0} x {1} pixels, which the library's messages describe";
inline constexpr Text kPaletteRemark =
    "its {0} palette colours were edited as one row of {0} pixels, which the library's messages describe; its "
    "indices are unchanged";
// The same for read, which edits nothing.
inline constexpr Text kStagedReadRemark = "read as a 24-bit copy of {0} x {1} pixels, which the library's messages describe";
inline constexpr Text kPaletteReadRemark =
    "its {0} palette colours were read as one row of {0} pixels, which the library's messages describe";
inline constexpr Text kNotPutBack = "the edit could not be written back into the picture: {0}";
inline constexpr Text kCopyCutShort = "the file became shorter while it was read";
inline constexpr Text kNoStage = "cannot make its 24-bit copy in '{0}': {1}";

// Streams: "-", /dev/stdin, /dev/stdout, /dev/fd/N and the like.
inline constexpr Text kClosedAtStart = "{0} was closed when tintwell started";
inline constexpr Text kDescriptorNotOpen = "descriptor {0} is not open";
inline constexpr Text kInputTerminal = "a terminal: pipe the picture in, or name its file";
inline constexpr Text kStreamLeadsToInput = "leads to the input {0}, which it would overwrite as it is read";
inline constexpr Text kOutputTerminal = "a terminal, where a picture would only garble the screen";
inline constexpr Text kStreamTooLong = "more than {0} bytes follow its pixels, more than tintwell keeps of a stream";
inline constexpr Text kNoPrivateCopy = "cannot keep a private copy of it in '{0}': {1}";
inline constexpr Text kStreamStdin = "stdin";
inline constexpr Text kStreamStdout = "stdout";
inline constexpr Text kStreamStderr = "stderr";
inline constexpr Text kStreamDescriptor = "descriptor {0}";
// The edit reached a stream only in part.
inline constexpr Text kStreamPartial = "{0}; the stream holds the first {1} bytes of the picture";
inline constexpr Text kStreamWriteFailed = "the picture could not be written to it: {0}";
// The input changed while the library read it: the edit is not kept.
inline constexpr Text kInputChanged = "changed while it was being edited";
inline constexpr Text kInputChangedStream = "changed while it was being edited; the stream holds an edit of the changed file";
// Why the library could not do its part, where its result code alone does not say.
inline constexpr Text kNoProc = "/proc is not mounted, and tintwell hands the library its files as /proc/self/fd/N";
inline constexpr Text kOutOfDescriptors = "too many open files: the library needs {0} more descriptors than the limit leaves";
inline constexpr Text kResultWithCause = "result {0}: {1} ({2})";

// ---- The output -------------------------------------------------------------

inline constexpr Text kOutputUnopenable = "cannot be opened for writing: {0}";
inline constexpr Text kOutputIsDirectory = "a directory";
inline constexpr Text kOutputOn = "on {0}";
inline constexpr Text kOutputNotWritable = "not writable (permission denied)";
inline constexpr Text kOutputReadOnly = "read-only, so it cannot be replaced";
inline constexpr Text kOwnedByOther = "owned by another user (uid {0}), whom its edited copy could not keep as owner";
inline constexpr Text kGroupNotMine = "its group (gid {0}) is not one of this user's, so its edited copy could not keep it";
inline constexpr Text kDanglingLink = "a symbolic link to a missing file";
inline constexpr Text kNamesNoFile = "names no file";
inline constexpr Text kDirectoryMissing = "the directory '{0}' does not exist";
inline constexpr Text kDirectoryUnusable = "the directory '{0}': {1}";
inline constexpr Text kNoRoom = "no room for the edited copy beside it in '{0}' ({1} bytes needed)";
inline constexpr Text kNoTemporary = "cannot make the edited copy beside it in '{0}': {1}";
inline constexpr Text kModeNotKept = "the edited copy could not keep its mode: {0}";
inline constexpr Text kOwnerNotKept = "the edited copy could not keep its owner and group: {0}";
inline constexpr Text kAttributesNotKept = "the edited copy could not keep its extended attributes: {0}";
inline constexpr Text kAttributeNotKept = "the edited copy could not keep its extended attribute '{0}': {1}";
inline constexpr Text kCopyNotSynced = "the edited copy did not reach the disk: {0}";
inline constexpr Text kNotReplaced = "cannot be replaced by its edited copy: {0}";
inline constexpr Text kNotWrittenFromCopy = "cannot be written from its edited copy: {0}";
inline constexpr Text kBytesAfterPixelsLost = "the bytes after its pixels could not be kept: {0}";
// Written all the same:
inline constexpr Text kDirectoryNotSynced = "written, but its directory did not reach the disk: {0}";
inline constexpr Text kReplacedByRename =
    "replaced by a rename, since ReplaceFileW could not replace it ({0}); only its attributes were kept, not its "
    "security or creation time";
// What a replaced output keeps of the file it replaces, for --help.
inline constexpr Text kReplacementKeepsLinux = "its mode, owner, group, ACL and extended attributes, nothing more";
inline constexpr Text kReplacementKeepsWindows = "its attributes and security";

// ---- Safe output: exact attributes, new files only ---------------------------

// A replaced file's attributes, made exact: the edited copy was given one
// (from the directory's default ACL, say) that the replaced file lacks.
inline constexpr Text kAttributeNotDropped =
    "the edited copy could not drop the extended attribute '{0}', which the file it replaces lacks: {1}";
// Only new outputs (demo): the output's name is taken.
inline constexpr Text kOutputExists = "exists already, and demo replaces nothing";
// Why demo does not write into DIR, after kDemoDirectoryUnusable.
inline constexpr Text kDemoDirectoryNotEmpty = "not empty (demo writes only into a new or empty directory)";
// A file of the demo that could not be made: {0} DIR, {1} the file, {2} why.
inline constexpr Text kDemoFileNotWritten = "demo: cannot write {0}/{1}: {2}";
inline constexpr Text kNameTaken = "the name is taken (demo replaces nothing)";

// ---- The library ------------------------------------------------------------

inline constexpr Text kLibraryNotLoaded = "cannot load the library: {0}";
inline constexpr Text kNoTintwellFunction = "{0}: the library has no function named Tintwell";
inline constexpr Text kNoTintwellOrdinal = "{0}: the library has no export with ordinal 1 (Tintwell)";
inline constexpr Text kLibraryFileError = "{0}: {1}";
inline constexpr Text kNameTooLong = "{0}: {1} bytes, longer than the library's limit of {2} bytes for a name";
inline constexpr Text kNoModuleNote = "{0} carries no module information note";
inline constexpr Text kUnreadableModuleNote = "{0}: unreadable module information: {1}";
inline constexpr Text kUnreadableResources = "{0}: unreadable resources: {1}";
inline constexpr Text kNoVersionBlock = "no readable version block: {0}";
inline constexpr Text kUnloadableTypeLibrary = "a type library that cannot be loaded: {0}";
inline constexpr Text kProgramVersion = "tintwell {0}";
inline constexpr Text kLibraryPath = "library: {0}";
inline constexpr Text kLibraryVersion = "library version: {0}";

// ---- The command line -------------------------------------------------------

inline constexpr Text kNoEdit = "no edit given";
inline constexpr Text kUnknownEdit = "unknown edit '{0}'";
inline constexpr Text kUnknownOption = "unknown option '{0}'";
inline constexpr Text kModuleNeedsPath = "--module needs a PATH";
inline constexpr Text kNeedsAmount = "{0} needs an AMOUNT, an integer from -2147483648 to 2147483647";
inline constexpr Text kTakesNoAmount = "{0} takes no AMOUNT";
inline constexpr Text kNeedsInputAndOutput = "{0} needs INPUT and OUTPUT, {1}";
inline constexpr Text kNeedsInputAlone = "{0} needs INPUT alone, {1}";
inline constexpr Text kRawNeeds = "raw needs FUNCTION AMOUNT INPUT [OUTPUT]";
inline constexpr Text kRawNeedsCounted = "raw needs FUNCTION AMOUNT INPUT [OUTPUT], {0}";
inline constexpr Text kRawIntegers = "FUNCTION and AMOUNT must be integers from -2147483648 to 2147483647";
inline constexpr Text kRawNoBatch = "raw edits one picture: it takes no --out-dir, --in-place or -j";
inline constexpr Text kDemoNoBatch = "demo takes no --out-dir, --in-place or -j";
inline constexpr Text kDemoOneDirectory = "demo takes at most one DIR, {0}";
inline constexpr Text kOutDirNeedsDirectory = "--out-dir needs a DIR";
inline constexpr Text kOutDirTwice = "--out-dir given twice";
inline constexpr Text kJobsNeedsNumber = "-j needs a number N";
inline constexpr Text kJobsAtLeastOne = "-j needs a whole number of pictures at a time, at least 1";
inline constexpr Text kNoFileCounted = "got no file";
inline constexpr Text kOneFileCounted = "got 1 file";
inline constexpr Text kFilesCounted = "got {0} files";
inline constexpr Text kNotUtf8Name = "file name is not valid UTF-8: '{0}'";
inline constexpr Text kJsonReportOnPicture = "--report=json writes on stdout, where OUTPUT would send the picture";
inline constexpr Text kNotUtf16Argument = "argument {0} is not valid UTF-16 (a lone surrogate)";

// What an amount that does not act as it reads does instead.
inline constexpr Text kAmountLowBits = "amount {0} acts as {1} ({2} uses its low 8 bits)";
inline constexpr Text kAmountNoNoise = "amount {0} adds no noise";
inline constexpr Text kAmountActsAs = "amount {0} acts as {1}";
inline constexpr Text kAmountWraps = "amount {0} adds the low 8 bits of a value below {1}";

// ---- Batches ----------------------------------------------------------------

inline constexpr Text kReadsNoDestination = "{0} writes nothing: it takes no --out-dir or --in-place";
inline constexpr Text kDestinationsExclusive = "--out-dir and --in-place exclude each other";
inline constexpr Text kNeedsDestination = "{0} of several pictures needs --out-dir DIR or --in-place";
inline constexpr Text kNoFiles = "no FILE given";
inline constexpr Text kStreamInBatch = "'{0}' stands for a stream, which batches and --in-place do not take";
inline constexpr Text kNamesNoOutput = "'{0}' names no file to write into {1}";
inline constexpr Text kSamePicture = "'{0}' and '{1}' are the same picture";
inline constexpr Text kSharedOutput = "'{0}' and '{1}' would both be written to '{2}'";
inline constexpr Text kOverwritesInput = "'{0}' would overwrite the input '{1}' (use --in-place to edit pictures in place)";
inline constexpr Text kOutputDirectoryUnusable = "cannot use the output directory {0}: {1}";
inline constexpr Text kNotADirectory = "not a directory";
inline constexpr Text kOnePicture = "1 picture";
inline constexpr Text kPictures = "{0} pictures";
inline constexpr Text kBatchWritten = "tintwell: {0}: {1} written, {2} failed";
inline constexpr Text kBatchRead = "tintwell: {0}: {1} read, {2} failed";
inline constexpr Text kBatchWrittenRefused = "tintwell: {0}: {1} written, {2} failed ({3} refused)";
inline constexpr Text kBatchReadRefused = "tintwell: {0}: {1} read, {2} failed ({3} refused)";
// Drawn over itself: the host puts a carriage return before it.
inline constexpr Text kBatchProgress = "tintwell: {0}/{1} done, {2} failed";
inline constexpr Text kNoCapture = "cannot capture the picture's messages: {0}";
inline constexpr Text kNoProcess = "cannot start a process: {0}";
inline constexpr Text kNoSharedMemory = "cannot share memory with the editing processes: {0}";
inline constexpr Text kNoTemporaryFolder = "cannot find the temporary folder or this program: {0}";
inline constexpr Text kTooManyProcesses = "at most {0} pictures are edited at a time";
inline constexpr Text kKilledBySignal = "the edit was killed by signal {0} ({1})";
inline constexpr Text kEndedByException = "the edit was ended by exception {0}";
inline constexpr Text kEndedWithoutResult = "the edit ended its process (exit status {0}) without returning a result";

// ---- Batches: outputs that lead to one file, and a batch told to stop ------

// Two outputs named differently that lead to one file (a link, another path
// to it): {0} and {1} the pictures, {2} and {3} their outputs.
inline constexpr Text kOutputsOneFile = "'{0}' and '{1}' would both be written to one file: '{2}' and '{3}' lead to it";
// What stopped a batch: {0} the signal's number, {1} its name.
inline constexpr Text kStopSignal = "signal {0} ({1})";
inline constexpr Text kStopCtrlC = "Ctrl+C";
inline constexpr Text kStopCtrlBreak = "Ctrl+Break";
// The closing line of a stopped batch: {0} what stopped it, {1} how many
// pictures, then how many were written (read), failed, and not finished.
inline constexpr Text kBatchStoppedWritten = "tintwell: stopped by {0}; {1}: {2} written, {3} failed, {4} not finished";
inline constexpr Text kBatchStoppedRead = "tintwell: stopped by {0}; {1}: {2} read, {3} failed, {4} not finished";

// ---- demo -------------------------------------------------------------------

inline constexpr Text kDemoDirectoryUnusable = "demo: cannot use directory {0}: {1}";
inline constexpr Text kDemoPageNotCopied = "demo: cannot copy the web page from {0}: {1}";
inline constexpr Text kDemoWrote = "demo: wrote the original, 9 edits and index.html to {0}/";
inline constexpr Text kDemoWroteWithPage = "demo: wrote the original, 9 edits and index.html and {1} to {0}/";

}  // namespace tintwell_cli::text
