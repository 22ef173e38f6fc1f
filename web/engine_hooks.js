// Runs inside the WebAssembly module's own scope (--post-js), where its
// in-memory file system and its memory growth can be reached.
//
// The in-memory file system grows a file above 1 MiB by an eighth at a time,
// copying everything written so far each time: some 300 MiB of copying for a
// 34 MiB picture. The page knows how large the output will be (the size of
// the input) and says so with expectFileSize(bytes); a file that must grow
// then grows to that size at once, and the copies are gone.
//
// Module.costs counts what the page's timers cannot see from outside: each
// file growth with the bytes it copied, and each growth of the memory.

Module["costs"] = {fileGrowths: 0, fileBytesCopied: 0, fileGrowthMs: 0, memoryGrowths: 0, memoryGrowthMs: 0};

var expectedFileSize = 0;
Module["expectFileSize"] = function (bytes) {
    expectedFileSize = bytes;
};

var growFileStorage = MEMFS.expandFileStorage;
MEMFS.expandFileStorage = function (node, capacity) {
    var costs = Module["costs"];
    var start = performance.now();
    var before = node.contents ? node.contents.length : 0;
    growFileStorage(node, Math.max(capacity, expectedFileSize));
    if (node.contents.length !== before) {
        costs.fileGrowths++;
        costs.fileBytesCopied += node.usedBytes;
    }
    costs.fileGrowthMs += performance.now() - start;
};

var growMemory = emscripten_realloc_buffer;
emscripten_realloc_buffer = function (size) {
    var costs = Module["costs"];
    var start = performance.now();
    var grown = growMemory(size);
    costs.memoryGrowths++;
    costs.memoryGrowthMs += performance.now() - start;
    return grown;
};

// The library's reads and writes arrive as views of its memory as signed
// bytes, and copying between those and a file's unsigned bytes goes value by
// value: most of what was left of the page's time. The same memory seen as
// unsigned bytes copies as one block.
function unsignedView(buffer) {
    return buffer instanceof Int8Array ? new Uint8Array(buffer.buffer, buffer.byteOffset, buffer.length) : buffer;
}

// A file's operations are copied from MEMFS.stream_ops into MEMFS.ops_table
// when the first file is made, which is before this runs: both are changed.
function readAndWriteUnsigned(operations) {
    var read = operations.read;
    var write = operations.write;
    operations.read = function (stream, buffer, offset, length, position) {
        return read(stream, unsignedView(buffer), offset, length, position);
    };
    operations.write = function (stream, buffer, offset, length, position, canOwn) {
        return write(stream, unsignedView(buffer), offset, length, position, canOwn);
    };
}
readAndWriteUnsigned(MEMFS.stream_ops);
if (MEMFS.ops_table) readAndWriteUnsigned(MEMFS.ops_table.file.stream);
