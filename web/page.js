"use strict";
// The page around the library: it takes the pictures a person drops (the
// library's own BMP as it is, anything else the browser can show as the
// browser decodes it, made a 24-bit BMP), writes each into the library's
// in-memory file system, calls the real Tintwell on it with UTF-16 names, and
// shows the output, the messages and the result code, with downloads as BMP
// or PNG and a ZIP of them all. Every edit is the library's; this script only
// moves bytes and explains them.

const kPictureDirectory = "/pictures";
// The picture check reads the file header and the information header.
const kHeaderBytes = 54;
// The library takes names of up to 199 bytes of UTF-8; a file name longer
// than this is replaced, leaving room for the folder and the edit's name in
// the output's name, so a name never decides whether an edit works.
const kLongestNameBytes = 150;
const kFallbackName = "picture.bmp";
// A converted picture's resolution: 72 pixels per inch, the common default.
const kPixelsPerMetre = 2835;

const state = {
    engine: null,
    edits: [],
    pictures: [], // {name, kind, size, bytes (what the library gets), converted, losses, refusal, decode, run}
    shown: 0,
    urls: {},
};

function element(id) {
    return document.getElementById(id);
}

// ---- The library ---------------------------------------------------------

// Starts the WebAssembly module; its stdout goes byte by byte into `printed`,
// and the time spent taking it is counted.
async function startEngine() {
    const printed = [];
    const stdout = {bytes: 0, milliseconds: 0};
    const engine = await createTintwellModule({
        stdout: (byte) => {
            const start = performance.now();
            printed.push(byte);
            stdout.bytes++;
            stdout.milliseconds += performance.now() - start;
        },
        stderr: () => {},
    });
    engine.printed = printed;
    engine.stdoutCost = stdout;
    engine.FS.mkdir(kPictureDirectory);
    return engine;
}

// Copies `bytes` into the library's memory for the length of `use(pointer)`.
function withLibraryBytes(engine, bytes, use) {
    const pointer = engine._malloc(Math.max(bytes.length, 1));
    if (pointer === 0) throw new Error("the library's memory is full");
    engine.HEAPU8.set(bytes, pointer);
    try {
        return use(pointer);
    } finally {
        engine._free(pointer);
    }
}

// A JavaScript string is UTF-16 already: its code units and a zero unit.
function utf16Bytes(text) {
    const units = new Uint16Array(text.length + 1);
    for (let i = 0; i < text.length; ++i) units[i] = text.charCodeAt(i);
    return new Uint8Array(units.buffer);
}

function libraryText(engine, pointer) {
    return engine.UTF8ToString(pointer);
}

// The host's picture check: why the library would not edit these bytes
// correctly, or null when it would.
function pictureRefusal(engine, bytes) {
    const header = bytes.subarray(0, kHeaderBytes);
    const refusal = withLibraryBytes(engine, header, (pointer) =>
        libraryText(engine, engine._TintwellPageRefusal(pointer, header.length, bytes.length)));
    return refusal === "" ? null : refusal;
}

function resultMeaning(engine, result) {
    return libraryText(engine, engine._TintwellPageResultMeaning(result));
}

function removeFile(engine, path) {
    if (engine.FS.analyzePath(path).exists) engine.FS.unlink(path);
}

// The file's bytes as the file system holds them, without a copy; null when
// there is no such file. Taken only after the last write to it.
function fileContents(engine, path) {
    const found = engine.FS.analyzePath(path);
    if (!found.exists) return null;
    const node = found.object;
    return node.contents ? node.contents.subarray(0, node.usedBytes) : new Uint8Array(0);
}

// What the engine's counters say now, to subtract from their later values.
function costSnapshot(engine) {
    return {...engine.costs, stdoutBytes: engine.stdoutCost.bytes, stdoutMs: engine.stdoutCost.milliseconds,
            memoryBytes: engine.HEAPU8.length};
}

function costsSince(engine, before) {
    const now = costSnapshot(engine);
    const spent = {};
    for (const key of Object.keys(before)) spent[key] = now[key] - before[key];
    spent.memoryBytes = now.memoryBytes;
    return spent;
}

// One call of Tintwell on `bytes`, saved as `name`. Returns the result code,
// the bytes the library printed, the output file (null when none was
// written) and where the time went, in milliseconds: `milliseconds` from the
// input in the page's memory to the output there; within it the copy into
// the file system, the call, the copy out, and the engine's own counters.
function runTintwell(engine, name, bytes, outputName, amount, functionNumber) {
    const input = `${kPictureDirectory}/${name}`;
    const output = `${kPictureDirectory}/${outputName}`;
    engine.printed.length = 0;
    let result = 0;
    const timings = {};
    const before = costSnapshot(engine);
    const start = performance.now();
    try {
        // The file system keeps the page's own array (the library only reads
        // it), and the output grows at once to the input's size, which every
        // edit keeps: no copy on either side.
        engine.FS.writeFile(input, bytes, {canOwn: true});
        engine.expectFileSize(bytes.length);
        const called = performance.now();
        timings.intoFilesMs = called - start;
        withLibraryBytes(engine, utf16Bytes(input), (inputName) =>
            withLibraryBytes(engine, utf16Bytes(output), (outputName16) => {
                const callStart = performance.now();
                result = engine._Tintwell(inputName, outputName16, amount, functionNumber);
                engine._fflush(0); // the prompts of the tint edits end without a newline
                timings.callMs = performance.now() - callStart;
            }));
        const copyOut = performance.now();
        const written = fileContents(engine, output);
        const end = performance.now();
        timings.outOfFilesMs = end - copyOut;
        Object.assign(timings, costsSince(engine, before));
        return {result, printed: Uint8Array.from(engine.printed), output: written, milliseconds: end - start, timings};
    } finally {
        engine.expectFileSize(0);
        removeFile(engine, input);
        removeFile(engine, output);
    }
}

// ---- What the library says, in English -------------------------------------

function escapeForPattern(text) {
    return text.replace(/[.*+?^${}()|[\]\\]/g, "\\$&");
}

// Each message as a pattern that matches it where it starts: %d is a signed
// decimal, and the newline that ends most messages is taken with it.
const messagePatterns = TINTWELL_MESSAGES.map((message) => ({
    message,
    pattern: new RegExp(escapeForPattern(message.korean).replaceAll("%d", "(-?\\d+)") + "\\n?", "y"),
}));

// The English with its %d replaced, in order, by the numbers the library
// printed.
function fillIn(english, numbers) {
    let next = 0;
    return english.replace(/%d/g, (field) => (next < numbers.length ? numbers[next++] : field));
}

// Splits what the library printed into its messages, each with its English.
function translate(text) {
    const lines = [];
    let at = 0;
    while (at < text.length) {
        const found = messagePatterns.find(({pattern}) => {
            pattern.lastIndex = at;
            return pattern.test(text);
        });
        if (!found) {
            lines.push({korean: text.slice(at), english: "(not one of the library's messages)", printed: ""});
            break;
        }
        found.pattern.lastIndex = at;
        const match = found.pattern.exec(text);
        lines.push({
            korean: match[0].replace(/\n$/, ""),
            english: fillIn(found.message.english, match.slice(1)),
            printed: found.message.printed,
        });
        at += match[0].length;
    }
    return lines;
}

// ---- The amount --------------------------------------------------------------

// The amount as the library gets it: a signed 32-bit integer, or null.
function amountValue() {
    const text = element("amount").value.trim();
    if (!/^[+-]?\d+$/.test(text)) return null;
    const value = Number(text);
    return value >= -2147483648 && value <= 2147483647 ? value : null;
}

// The host's warnings for this amount, one for each edit it does not act
// as written for: the channel edits use its low 8 bits, noise its size.
function amountNotes(amount) {
    if (amount === null) return ["The amount is a whole number from -2147483648 to 2147483647."];
    return state.edits.filter((edit) => edit.amount)
        .map((edit) => libraryText(state.engine, state.engine._TintwellPageAmountWarning(edit.function, amount)))
        .filter((warning) => warning !== "");
}

function updateAmountNote() {
    if (!state.engine) return;
    const list = element("amount-notes");
    list.textContent = "";
    for (const note of amountNotes(amountValue())) {
        const item = document.createElement("li");
        item.textContent = note;
        list.append(item);
    }
    element("amount-note").textContent = list.childElementCount ? "Where it does not act as written:" :
                                                                "Every edit takes this amount as written.";
}

// ---- Pictures in: the library's own BMP, or the browser's decode ------------------

// What kind of file the bytes are, from their first bytes.
function fileKind(bytes) {
    const starts = (...values) => values.every((value, i) => bytes[i] === value);
    if (starts(0x42, 0x4d)) return "BMP";
    if (starts(0x89, 0x50, 0x4e, 0x47)) return "PNG";
    if (starts(0xff, 0xd8, 0xff)) return "JPEG";
    if (starts(0x47, 0x49, 0x46, 0x38)) return "GIF";
    if (starts(0x52, 0x49, 0x46, 0x46) && String.fromCharCode(...bytes.subarray(8, 12)) === "WEBP") return "WebP";
    return "picture";
}

// The decoded picture's pixels, top row first, 4 bytes a pixel (red, green,
// blue, alpha) exactly as decoded: WebGL hands them over untouched, where a
// 2D canvas stores them premultiplied and rounds the colours of partly
// transparent pixels (its fallback says so).
function decodedPixels(bitmap) {
    const {width, height} = bitmap;
    const gl = new OffscreenCanvas(1, 1).getContext("webgl2");
    if (gl && width <= gl.getParameter(gl.MAX_TEXTURE_SIZE) && height <= gl.getParameter(gl.MAX_TEXTURE_SIZE)) {
        gl.pixelStorei(gl.UNPACK_PREMULTIPLY_ALPHA_WEBGL, false);
        gl.pixelStorei(gl.UNPACK_COLORSPACE_CONVERSION_WEBGL, gl.NONE);
        gl.bindTexture(gl.TEXTURE_2D, gl.createTexture());
        gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, gl.RGBA, gl.UNSIGNED_BYTE, bitmap);
        gl.bindFramebuffer(gl.FRAMEBUFFER, gl.createFramebuffer());
        gl.framebufferTexture2D(gl.FRAMEBUFFER, gl.COLOR_ATTACHMENT0, gl.TEXTURE_2D, gl.getParameter(gl.TEXTURE_BINDING_2D), 0);
        const rgba = new Uint8Array(width * height * 4);
        gl.readPixels(0, 0, width, height, gl.RGBA, gl.UNSIGNED_BYTE, rgba);
        const read = gl.getError() === gl.NO_ERROR;
        gl.getExtension("WEBGL_lose_context")?.loseContext();
        if (read) return {rgba, exact: true};
    }
    const context = new OffscreenCanvas(width, height).getContext("2d");
    context.drawImage(bitmap, 0, 0);
    return {rgba: new Uint8Array(context.getImageData(0, 0, width, height).data.buffer), exact: false};
}

// The browser's own decode of a file, with no colour management and no
// premultiplied alpha; null when the browser cannot read it.
async function browserDecode(blob) {
    let bitmap;
    try {
        bitmap = await createImageBitmap(blob, {colorSpaceConversion: "none", premultiplyAlpha: "none"});
    } catch {
        return null;
    }
    try {
        return {width: bitmap.width, height: bitmap.height, ...decodedPixels(bitmap)};
    } finally {
        bitmap.close();
    }
}

// A bottom-up 24-bit BMP of the decoded pixels (blue, green, red; rows padded
// to 4 bytes), the picture the library edits; null when it would pass the
// format's 4 GiB limit.
function bmpFromDecode({width, height, rgba}) {
    const rowBytes = Math.ceil((width * 3) / 4) * 4;
    const fileSize = kHeaderBytes + rowBytes * height;
    if (fileSize > 0xffffffff) return null;
    const bytes = new Uint8Array(fileSize);
    const header = new DataView(bytes.buffer);
    bytes.set([0x42, 0x4d]);
    header.setUint32(2, fileSize, true);
    header.setUint32(10, kHeaderBytes, true);
    header.setUint32(14, kHeaderBytes - 14, true);
    header.setInt32(18, width, true);
    header.setInt32(22, height, true);
    header.setUint16(26, 1, true);  // planes
    header.setUint16(28, 24, true); // bits per pixel
    header.setUint32(34, rowBytes * height, true);
    header.setInt32(38, kPixelsPerMetre, true);
    header.setInt32(42, kPixelsPerMetre, true);
    for (let y = 0; y < height; ++y) {
        let from = y * width * 4;
        let to = kHeaderBytes + (height - 1 - y) * rowBytes;
        for (let x = 0; x < width; ++x, from += 4, to += 3) {
            bytes[to] = rgba[from + 2];
            bytes[to + 1] = rgba[from + 1];
            bytes[to + 2] = rgba[from];
        }
    }
    return bytes;
}

// What the conversion to 24 bits left behind, in plain words.
function conversionLosses(kind, original, decode) {
    const losses = [];
    let transparent = 0;
    for (let at = 3; at < decode.rgba.length; at += 4) if (decode.rgba[at] !== 255) ++transparent;
    if (transparent) {
        losses.push(`transparency: ${transparent.toLocaleString("en")} pixels were partly or fully transparent; ` +
                    "their colours are kept, their alpha is dropped");
    }
    if (transparent && !decode.exact) {
        losses.push("this browser rounded the colours of partly transparent pixels as it read them");
    }
    if (kind === "BMP") {
        const bits = original.length >= 30 ? original[28] | (original[29] << 8) : 0;
        losses.push(`the BMP's own layout (${bits} bits per pixel) is not kept: the library gets 24 bits a pixel`);
    }
    if (kind === "GIF") losses.push("a GIF's first frame only");
    if (kind === "JPEG" || kind === "PNG" || kind === "WebP") losses.push("any colour profile or metadata in the file");
    return losses;
}

// A picture ready for the library. A file that the host's check accepts goes
// to the library as it is. Every other file the browser can show is decoded
// by the browser and handed over as a 24-bit BMP, with what that lost. (The
// host's check decides what is kept: a BMP variant it accepts is kept here
// too, through the same C++.)
async function preparePicture(fileName, blob) {
    const original = new Uint8Array(await blob.arrayBuffer());
    const picture = {name: libraryName(fileName), kind: fileKind(original), size: original.length, run: null};
    const refusal = pictureRefusal(state.engine, original);
    if (!refusal) return {...picture, bytes: original, converted: false, losses: []};
    const decode = await browserDecode(blob);
    const bytes = decode && bmpFromDecode(decode);
    if (!bytes) return {...picture, bytes: null, refusal: decode ? "too large for a BMP" : refusal};
    return {...picture, bytes, converted: true, refusal, decode,
            losses: conversionLosses(picture.kind, original, decode)};
}

// ---- Pictures out: BMP or PNG, one or a ZIP ------------------------------------------

// The name without a picture's extension, with the edit (and its amount)
// added: "photo.jpg" after brighten 40 is "photo-brighten-40".
function editedStem(pictureName, edit, amount) {
    const stem = pictureName.replace(/\.(bmp|dib|png|jpe?g|gif|webp)$/i, "");
    return `${stem}-${edit.name}` + (edit.amount ? `-${amount}` : "");
}

// A PNG of a 24-bit output, through the browser's own encoder. Every pixel is
// opaque, so the canvas keeps its colours exactly.
async function pngFromBmp(bmp) {
    const bitmap = await createImageBitmap(new Blob([bmp], {type: "image/bmp"}),
                                           {colorSpaceConversion: "none", premultiplyAlpha: "none"});
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    canvas.getContext("2d").drawImage(bitmap, 0, 0);
    bitmap.close();
    return new Uint8Array(await (await canvas.convertToBlob({type: "image/png"})).arrayBuffer());
}

// The file a person downloads for one edited picture: {name, bytes}.
async function download(picture, format) {
    const run = picture.run;
    const name = `${editedStem(picture.name, run.edit, run.amount)}.${format}`;
    if (!run.downloads[format]) run.downloads[format] = format === "png" ? await pngFromBmp(run.output) : run.output;
    return {name, bytes: run.downloads[format]};
}

// Every edited picture in one ZIP; a name met twice gets a number.
async function zipOfAll(format) {
    const files = {};
    for (const picture of state.pictures.filter((each) => each.run?.output)) {
        const {name, bytes} = await download(picture, format);
        let unique = name;
        for (let n = 2; unique in files; ++n) unique = name.replace(/(\.\w+)$/, `-${n}$1`);
        // BMP rows pack well and quickly at level 1; PNG is packed already.
        files[unique] = [bytes, {level: format === "png" ? 0 : 1}];
    }
    return fflate.zipSync(files);
}

// ---- Showing things ------------------------------------------------------------

function showBytes(which, bytes) {
    if (state.urls[which]) URL.revokeObjectURL(state.urls[which]);
    state.urls[which] = bytes ? URL.createObjectURL(new Blob([bytes], {type: "image/bmp"})) : null;
    element(which).src = state.urls[which] || "";
}

function setLink(link, {name, bytes}, type) {
    if (state.urls[name]) URL.revokeObjectURL(state.urls[name]);
    state.urls[name] = URL.createObjectURL(new Blob([bytes], {type}));
    link.href = state.urls[name];
    link.download = name;
    link.textContent = `Download ${name} (${bytes.length.toLocaleString("en")} bytes)`;
    link.hidden = false;
}

function chosenFormat() {
    return element("format").value;
}

function setEditsEnabled(enabled) {
    for (const button of element("edits").querySelectorAll("button")) button.disabled = !enabled;
}

function pictureSummary(picture) {
    const size = `${picture.kind}, ${picture.size.toLocaleString("en")} bytes`;
    if (!picture.bytes) return {className: "refused", text: `${size}: refused: ${picture.refusal}. This browser cannot show it either.`};
    if (!picture.converted) return {className: "accepted", text: `${size}: a picture the library edits as it is.`};
    const why = picture.kind === "BMP" ? ` (the library's check: ${picture.refusal})` : "";
    return {className: "converted",
            text: `${size}${why}: converted by the browser to a 24-bit BMP of ` +
                  `${picture.decode.width} x ${picture.decode.height}. Lost: ` +
                  (picture.losses.length ? picture.losses.join("; ") : "nothing") + "."};
}

// One line a picture: its name, how it came in, and after an edit its result.
function showPictureList() {
    const list = element("picture-list");
    list.textContent = "";
    for (const [index, picture] of state.pictures.entries()) {
        const item = document.createElement("li");
        const name = document.createElement("button");
        name.type = "button";
        name.className = "picture-name";
        name.textContent = picture.name;
        name.addEventListener("click", () => showPicture(index));
        const summary = pictureSummary(picture);
        const outcome = document.createElement("span");
        outcome.className = summary.className;
        outcome.textContent = ` ${summary.text}`;
        item.append(name, outcome);
        if (picture.run) {
            const result = document.createElement("span");
            result.textContent = ` Result code ${picture.run.result}` + (picture.run.output ? "." : ": nothing written.");
            item.append(result);
        }
        list.append(item);
    }
    const count = state.pictures.filter((picture) => picture.bytes).length;
    element("verdict").textContent = count ? `${count} of ${state.pictures.length} can be edited. Choose an edit.` :
                                             "None of these can be edited.";
}

function showMessages(run) {
    const text = new TextDecoder().decode(run.printed);
    element("messages").textContent = text;
    const body = element("translation").tBodies[0];
    body.textContent = "";
    for (const line of translate(text)) {
        const row = body.insertRow();
        row.insertCell().textContent = line.korean;
        row.cells[0].lang = "ko";
        row.insertCell().textContent = line.english;
        row.insertCell().textContent = line.printed;
    }
    const code = element("result-code");
    const succeeded = state.engine._TintwellPageSucceeded(run.result) === 1;
    code.className = succeeded ? "" : "failed";
    code.textContent = `Result code ${run.result}: ${resultMeaning(state.engine, run.result)}.`;
}

// The picture in the side-by-side view, with its result, messages and download.
async function showPicture(index) {
    const picture = state.pictures[index];
    state.shown = index;
    showBytes("original", picture.bytes);
    element("original-caption").textContent = `original: ${picture.name}` + (picture.converted ? " (as the library gets it)" : "");
    const run = picture.run;
    showBytes("result", run?.output ?? null);
    element("download").hidden = true;
    if (!run) {
        element("result-caption").textContent = "result";
        return;
    }
    element("result-caption").textContent =
        `${run.edit.function}: ${run.edit.name}` + (run.edit.amount ? ` ${run.amount}` : "") + (run.output ? "" : " (nothing written)");
    element("timing").textContent = `The edit took ${run.milliseconds.toFixed(1)} ms, from the picture in memory to the result in memory.`;
    showMessages(run);
    if (run.output) {
        const format = chosenFormat();
        setLink(element("download"), await download(picture, format), `image/${format}`);
    }
}

// ---- What the buttons do --------------------------------------------------------

// The name the library is given for the user's file.
function libraryName(fileName) {
    const cleaned = fileName.replace(/[/\\\u0000]/g, "_");
    const fits = new TextEncoder().encode(cleaned).length <= kLongestNameBytes;
    return fits && cleaned !== "." && cleaned !== ".." && cleaned !== "" ? cleaned : kFallbackName;
}

async function loadFiles(files) {
    if (!state.engine || !files.length) return; // the verdict says the library is still loading
    element("verdict").textContent = `Reading ${files.length} file(s)…`;
    state.pictures = [];
    for (const file of files) state.pictures.push(await preparePicture(file.name, file));
    showPictureList();
    setEditsEnabled(state.pictures.some((picture) => picture.bytes));
    element("zip").hidden = true;
    element("timing").textContent = "";
    await showPicture(0);
}

// The edit on every picture that can be edited, one after the other.
async function runEdit(edit) {
    const amount = edit.amount ? amountValue() : 0;
    if (amount === null) return;
    for (const picture of state.pictures.filter((each) => each.bytes)) {
        // The output's name is longer than the input's, so never the same file.
        const output = `${editedStem(picture.name, edit, amount)}.bmp`;
        const run = runTintwell(state.engine, picture.name, picture.bytes, output, amount, edit.function);
        picture.run = {...run, edit, amount, downloads: {}};
    }
    showPictureList();
    const edited = state.pictures.filter((picture) => picture.run?.output).length;
    element("zip").hidden = edited < 2;
    element("zip").textContent = `Download all ${edited} as a ZIP`;
    await showPicture(state.pictures.findIndex((picture) => picture.bytes));
}

async function downloadZip() {
    const format = chosenFormat();
    const bytes = await zipOfAll(format);
    const link = element("zip-link");
    setLink(link, {name: `pictures-${state.pictures.find((picture) => picture.run).run.edit.name}-${format}.zip`, bytes},
            "application/zip");
    link.click();
    return {name: link.download, bytes};
}

function makeEditButtons() {
    const box = element("edits");
    for (const edit of state.edits) {
        const button = document.createElement("button");
        button.type = "button";
        button.textContent = `${edit.function}: ${edit.name}`;
        button.title = edit.summary.replaceAll("AMOUNT", "the amount");
        button.dataset.edit = edit.name;
        button.addEventListener("click", () => runEdit(edit));
        box.append(button);
    }
    setEditsEnabled(false);
}

function listenForFiles() {
    element("file").addEventListener("change", (event) => loadFiles([...event.target.files]));
    const drop = element("drop");
    document.addEventListener("dragover", (event) => {
        event.preventDefault();
        drop.classList.add("over");
    });
    document.addEventListener("dragleave", () => drop.classList.remove("over"));
    document.addEventListener("drop", (event) => {
        event.preventDefault();
        drop.classList.remove("over");
        loadFiles([...event.dataTransfer.files]);
    });
    element("amount").addEventListener("input", updateAmountNote);
    element("format").addEventListener("change", () => state.pictures.length && showPicture(state.shown));
    element("zip").addEventListener("click", downloadZip);
}

// ---- Self-test: index.html?selftest=JOBS.js ---------------------------------------
// JOBS.js, beside the page, sets TINTWELL_SELFTEST to {pictures, jobs, show}:
// pictures maps names to {hex} (the bytes, which a page opened from disk can
// take from a script) or {url} (fetched, from a server); each job
// {picture, function, amount, keep} is one call of Tintwell. Then
// show {pictures, edit, amount, format} drops those pictures into the page
// and runs the edit through its own buttons, and reports each picture as the
// page took it, its result and its download, and the ZIP of them all. The
// results, {jobs, shown}, go into #selftest as JSON. Used by the browser test
// and the timing script.

function hex(bytes) {
    const digits = new Array(bytes.length);
    for (let i = 0; i < bytes.length; ++i) digits[i] = bytes[i].toString(16).padStart(2, "0");
    return digits.join("");
}

function fromHex(text) {
    const bytes = new Uint8Array(text.length / 2);
    for (let i = 0; i < bytes.length; ++i) bytes[i] = parseInt(text.substr(2 * i, 2), 16);
    return bytes;
}

function loadScript(url) {
    return new Promise((resolve, reject) => {
        const script = document.createElement("script");
        script.src = url;
        script.onload = resolve;
        script.onerror = () => reject(new Error(`${url} did not load`));
        document.head.append(script);
    });
}

async function pictureBytes(source) {
    if (source.hex !== undefined) return fromHex(source.hex);
    const response = await fetch(source.url);
    if (!response.ok) throw new Error(`${source.url}: ${response.status}`);
    return new Uint8Array(await response.arrayBuffer());
}

function jobResult(job, bytes, run) {
    return {
        picture: job.picture,
        function: job.function,
        amount: job.amount,
        refusal: pictureRefusal(state.engine, bytes),
        result: run.result,
        meaning: resultMeaning(state.engine, run.result),
        printed: hex(run.printed),
        english: translate(new TextDecoder().decode(run.printed)).map((line) => line.english),
        output_size: run.output ? run.output.length : null,
        output: run.output && job.keep ? hex(run.output) : null,
        milliseconds: run.milliseconds,
        timings: run.timings,
    };
}

// Drops the pictures into the page, presses the edit's button, and says what
// came of each.
async function showThroughTheButtons(show, pictures) {
    await loadFiles(show.pictures.map((name) => new File([pictures.get(name)], name)));
    element("amount").value = String(show.amount);
    element("format").value = show.format ?? "bmp";
    updateAmountNote();
    const edit = state.edits.find((each) => each.name === show.edit);
    if (edit) await runEdit(edit);
    const shown = {pictures: [], zip: null};
    for (const picture of state.pictures) {
        const taken = {name: picture.name, kind: picture.kind, converted: picture.converted ?? false,
                       summary: pictureSummary(picture).text, library_input: picture.bytes && hex(picture.bytes)};
        if (picture.decode) Object.assign(taken, {width: picture.decode.width, height: picture.decode.height,
                                                  decoded: hex(picture.decode.rgba), exact: picture.decode.exact});
        if (picture.run?.output) {
            const file = await download(picture, chosenFormat());
            Object.assign(taken, {result: picture.run.result, output: hex(picture.run.output),
                                  download_name: file.name, download: hex(file.bytes)});
        }
        shown.pictures.push(taken);
    }
    if (!element("zip").hidden) {
        const zip = await downloadZip();
        shown.zip = {name: zip.name, bytes: hex(zip.bytes)};
    }
    return shown;
}

async function selfTest(jobsScript) {
    await loadScript(jobsScript);
    const plan = TINTWELL_SELFTEST;
    const pictures = new Map();
    for (const [name, source] of Object.entries(plan.pictures)) pictures.set(name, await pictureBytes(source));
    const jobs = [];
    for (const job of plan.jobs) {
        const bytes = pictures.get(job.picture);
        const run = runTintwell(state.engine, libraryName(job.picture), bytes, "selftest-output.bmp",
                                job.amount, job.function);
        jobs.push(jobResult(job, bytes, run));
    }
    const shown = plan.show ? await showThroughTheButtons(plan.show, pictures) : null;
    element("selftest").textContent = JSON.stringify({jobs, shown});
    document.body.dataset.selftest = "done";
    return {jobs, shown};
}

// With &report=PATH the results are also sent to PATH on the page's own
// server: what the timing script reads, since a browser that dumps the page
// runs it on virtual time.
async function reportResults(path, results) {
    await fetch(path, {method: "POST", headers: {"Content-Type": "application/json"}, body: JSON.stringify(results)});
}

// ---- Start -----------------------------------------------------------------------------

async function start() {
    listenForFiles();
    try {
        state.engine = await startEngine();
    } catch (error) {
        element("verdict").textContent = `The library could not start in this browser: ${error}`;
        document.body.dataset.started = "failed";
        return;
    }
    state.edits = JSON.parse(libraryText(state.engine, state.engine._TintwellPageEdits()));
    makeEditButtons();
    updateAmountNote();
    element("verdict").textContent = "Choose or drop pictures.";
    const parameters = new URLSearchParams(location.search);
    const jobs = parameters.get("selftest");
    if (!jobs) {
        document.body.dataset.started = "ready";
        return;
    }
    let results;
    try {
        results = await selfTest(jobs);
    } catch (error) {
        results = {error: String(error)};
        element("selftest").textContent = JSON.stringify(results);
        document.body.dataset.selftest = "failed";
    }
    if (parameters.get("report")) await reportResults(parameters.get("report"), results);
}

start();
