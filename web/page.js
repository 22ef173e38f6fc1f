"use strict";
// The page around the library: it writes the chosen picture into the
// library's in-memory file system, calls the real Tintwell on it with UTF-16
// names, and shows the output, the messages and the result code. Every edit
// is the library's; this script only moves bytes and explains them.

const kPictureDirectory = "/pictures";
// The picture check reads the file header and the information header.
const kHeaderBytes = 54;
// The library takes names of up to 199 bytes of UTF-8; a file name longer
// than this is replaced, leaving room for the folder and the edit's name in
// the output's name, so a name never decides whether an edit works.
const kLongestNameBytes = 150;
const kFallbackName = "picture.bmp";

const state = {
    engine: null,
    edits: [],
    picture: null, // {name, bytes, refusal}
    urls: {},
};

function element(id) {
    return document.getElementById(id);
}

// ---- The library ---------------------------------------------------------

// Starts the WebAssembly module; its stdout goes byte by byte into `printed`.
async function startEngine() {
    const printed = [];
    const engine = await createTintwellModule({
        stdout: (byte) => printed.push(byte),
        stderr: () => {},
    });
    engine.printed = printed;
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

// One call of Tintwell on `bytes`, saved as `name`. Returns the result code,
// the bytes the library printed, the output file (null when none was
// written) and how long the call took in milliseconds.
function runTintwell(engine, name, bytes, outputName, amount, functionNumber) {
    const input = `${kPictureDirectory}/${name}`;
    const output = `${kPictureDirectory}/${outputName}`;
    engine.FS.writeFile(input, bytes);
    engine.printed.length = 0;
    let result = 0;
    let milliseconds = 0;
    try {
        withLibraryBytes(engine, utf16Bytes(input), (inputName) =>
            withLibraryBytes(engine, utf16Bytes(output), (outputName16) => {
                const start = performance.now();
                result = engine._Tintwell(inputName, outputName16, amount, functionNumber);
                engine._fflush(0); // the prompts of the tint edits end without a newline
                milliseconds = performance.now() - start;
            }));
        const written = engine.FS.analyzePath(output).exists ? engine.FS.readFile(output) : null;
        return {result, printed: Uint8Array.from(engine.printed), output: written, milliseconds};
    } finally {
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

// ---- Showing things ------------------------------------------------------------

function showBytes(which, bytes, fileName) {
    if (state.urls[which]) URL.revokeObjectURL(state.urls[which]);
    state.urls[which] = bytes ? URL.createObjectURL(new Blob([bytes], {type: "image/bmp"})) : null;
    element(which).src = state.urls[which] || "";
    if (which === "result") {
        const link = element("download");
        link.hidden = !bytes;
        if (bytes) {
            link.href = state.urls[which];
            link.download = fileName;
            link.textContent = `Download ${fileName} (${bytes.length.toLocaleString("en")} bytes)`;
        }
    }
}

function setEditsEnabled(enabled) {
    for (const button of element("edits").querySelectorAll("button")) button.disabled = !enabled;
}

function showVerdict(picture) {
    const verdict = element("verdict");
    verdict.textContent = "";
    const name = document.createElement("strong");
    name.textContent = picture.name;
    verdict.append(name, ` (${picture.bytes.length.toLocaleString("en")} bytes): `);
    const outcome = document.createElement("span");
    if (picture.refusal) {
        outcome.className = "refused";
        outcome.textContent = `refused: ${picture.refusal}. The library edits 24-bit uncompressed BMP ` +
                              "pictures with their pixels at byte 54 and bottom-up rows.";
    } else {
        outcome.className = "accepted";
        outcome.textContent = "a picture the library edits correctly. Choose an edit.";
    }
    verdict.append(outcome);
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

// The name the library is given for the user's file.
function libraryName(fileName) {
    const cleaned = fileName.replace(/[/\\\u0000]/g, "_");
    const fits = new TextEncoder().encode(cleaned).length <= kLongestNameBytes;
    return fits && cleaned !== "." && cleaned !== ".." && cleaned !== "" ? cleaned : kFallbackName;
}

function outputName(inputName, edit) {
    const stem = inputName.replace(/\.bmp$/i, "");
    return `${stem}-${edit.name}.bmp`;
}

// ---- What the buttons do --------------------------------------------------------

function loadPicture(fileName, bytes) {
    const picture = {name: libraryName(fileName), bytes, refusal: pictureRefusal(state.engine, bytes)};
    state.picture = picture;
    showVerdict(picture);
    showBytes("original", bytes, picture.name);
    element("original-caption").textContent = `original: ${picture.name}`;
    showBytes("result", null, "");
    element("result-caption").textContent = "result";
    setEditsEnabled(!picture.refusal);
    return picture;
}

async function loadFile(file) {
    if (!state.engine) return; // the verdict says the library is still loading
    loadPicture(file.name, new Uint8Array(await file.arrayBuffer()));
}

function runEdit(edit) {
    const picture = state.picture;
    const amount = edit.amount ? amountValue() : 0;
    if (!picture || picture.refusal || amount === null) return null;
    const name = outputName(picture.name, edit);
    const run = runTintwell(state.engine, picture.name, picture.bytes, name, amount, edit.function);
    showBytes("result", run.output, name);
    element("result-caption").textContent =
        `${edit.function}: ${edit.name}` + (edit.amount ? ` ${amount}` : "") + (run.output ? "" : " (nothing written)");
    element("timing").textContent = `The call took ${run.milliseconds.toFixed(1)} ms.`;
    showMessages(run);
    return run;
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
    element("file").addEventListener("change", (event) => {
        if (event.target.files.length) loadFile(event.target.files[0]);
    });
    const drop = element("drop");
    document.addEventListener("dragover", (event) => {
        event.preventDefault();
        drop.classList.add("over");
    });
    document.addEventListener("dragleave", () => drop.classList.remove("over"));
    document.addEventListener("drop", (event) => {
        event.preventDefault();
        drop.classList.remove("over");
        if (event.dataTransfer.files.length) loadFile(event.dataTransfer.files[0]);
    });
    element("amount").addEventListener("input", updateAmountNote);
}

// ---- Self-test: index.html?selftest=JOBS.js ---------------------------------------
// JOBS.js, beside the page, sets TINTWELL_SELFTEST to {pictures, jobs, show}:
// pictures maps names to {hex} (the bytes, which a page opened from disk can
// take from a script) or {url} (fetched, from a server); each job
// {picture, function, amount, keep} is one call of Tintwell. The results go
// into #selftest as JSON; then the job named by "show" runs through the
// page's own buttons. Used by the browser test and the timing script.

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

async function selfTest(jobsScript) {
    await loadScript(jobsScript);
    const plan = TINTWELL_SELFTEST;
    const pictures = new Map();
    for (const [name, source] of Object.entries(plan.pictures)) pictures.set(name, await pictureBytes(source));
    const results = [];
    for (const job of plan.jobs) {
        const bytes = pictures.get(job.picture);
        const run = runTintwell(state.engine, libraryName(job.picture), bytes, "selftest-output.bmp",
                                job.amount, job.function);
        results.push({
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
        });
    }
    if (plan.show) {
        loadPicture(plan.show.picture, pictures.get(plan.show.picture));
        element("amount").value = String(plan.show.amount);
        updateAmountNote();
        const button = element("edits").querySelector(`button[data-edit="${plan.show.edit}"]`);
        if (button) button.click();
    }
    element("selftest").textContent = JSON.stringify(results);
    document.body.dataset.selftest = "done";
    return results;
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
        return;
    }
    state.edits = JSON.parse(libraryText(state.engine, state.engine._TintwellPageEdits()));
    makeEditButtons();
    updateAmountNote();
    element("verdict").textContent = "Choose or drop a BMP picture.";
    const parameters = new URLSearchParams(location.search);
    const jobs = parameters.get("selftest");
    if (!jobs) return;
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
