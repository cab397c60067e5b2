// The tool's DASH and HLS thumbnail tracks as real players read them.
//
// Debian's ffmpeg makes a video whose length no sheet divides (the last
// sheet is short) and packages it with its dash and hls muxers. The tool
// adds its thumbnail track to a copy of each manifest, written in another
// folder than the video's MPD (its BaseURL must keep the video playing) and
// under names with blanks (paths are percent-encoded), and writes its WebVTT
// index too. Headless Chromium runs shaka-player and dash.js on each
// manifest. Every tile, at its first, middle and last millisecond, must come
// back as the sheet and rectangle that the WebVTT index gives the picture
// chosen for it; the image track must have the sheet's size and layout; and
// the video must still play.
//
// Usage: node thumbnail_tracks.mjs BUILD_DIR (run.sh installs the players).
import {execFileSync, spawn} from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import {fileURLToPath} from 'node:url';

const started = Date.now();
const build = path.resolve(process.argv[2]);
const here = path.dirname(fileURLToPath(import.meta.url));
const modules = path.join(build, 'players', 'node_modules');
const work = path.join(build, 'players', 'work');
const media = path.join(work, 'media');
const ffmpeg = '/usr/bin/ffmpeg';  // Debian's, with libx264 and both muxers

function run(program, args) {
  execFileSync(program, args, {stdio: ['ignore', 'ignore', 'inherit']});
}

// The video: 10.6 s at 25 fps, a keyframe every second, every picture
// different (testsrc2 draws a moving pattern and a clock).
function makeVideo() {
  fs.rmSync(work, {recursive: true, force: true});
  fs.mkdirSync(path.join(media, 'dash'), {recursive: true});
  fs.mkdirSync(path.join(media, 'hls'), {recursive: true});
  const video = path.join(work, 'video.mp4');
  const quiet = ['-nostdin', '-loglevel', 'error'];
  run(ffmpeg, [...quiet, '-f', 'lavfi', '-i', 'testsrc2=size=320x180:rate=25:duration=10.6', '-c:v', 'libx264',
    '-preset', 'veryfast', '-g', '25', '-pix_fmt', 'yuv420p', video]);
  run(ffmpeg, [...quiet, '-i', video, '-c', 'copy', '-f', 'dash', '-seg_duration', '2',
    path.join(media, 'dash', 'video.mpd')]);
  run(ffmpeg, [...quiet, '-i', video, '-c', 'copy', '-f', 'hls', '-hls_time', '2', '-hls_playlist_type', 'vod',
    '-hls_segment_type', 'fmp4', '-master_pl_name', 'master.m3u8', path.join(media, 'hls', 'video.m3u8')]);
  return video;
}

// Two ways of choosing: marks at the start of 1 s tiles on 3x2 sheets (the
// second sheet covers 4.6 of its 6 s), and --count marks in the middle of
// 2.65 s tiles, one picture per file.
const runs = [
  {name: 'every 1s, 3x2 sheets', folder: 'thumbs every', tileMs: 1000, columns: 3, rows: 2, tile: [64, 36],
    options: ['--every', '1s', '--size', '64x36', '--sprite', '3x2'], master: 'master.m3u8'},
  {name: 'count 4, 1x1', folder: 'thumbs count', tileMs: 2650, columns: 1, rows: 1, tile: [96, 54],
    options: ['--count', '4', '--size', '96x54'], master: 'master-count.m3u8'},
];
const lengthMs = 10600;

function addThumbnails(video, r) {
  const folder = path.join(media, r.folder);
  const hls = path.join(media, 'hls');
  if (r.master !== 'master.m3u8') fs.copyFileSync(path.join(hls, 'master.m3u8'), path.join(hls, r.master));
  fs.mkdirSync(path.join(folder, 'with video'), {recursive: true});
  run(path.join(build, 'bin', 'vantor-transcode'), [video, ...r.options, '-o', path.join(folder, 'sheet files'),
    '--vtt', path.join(folder, 'thumbnails.vtt'),
    '--dash', path.join(folder, 'with video', 'video.mpd'), '--dash-into', path.join(media, 'dash', 'video.mpd'),
    '--hls', path.join(folder, 'images.m3u8'), '--hls-into', path.join(hls, r.master)]);
}

// A file under media/ as the server offers it.
function urlOf(origin, file) {
  const segments = path.relative(media, file).split(path.sep).map(encodeURIComponent);
  return new URL(segments.join('/'), origin + '/').href;
}

// The cues of a WebVTT index, their pictures as absolute URLs.
function readVtt(origin, file) {
  const blocks = fs.readFileSync(file, 'utf8').split('\n\n').slice(1).filter((b) => b.trim());
  const milliseconds = (clock) => {
    const [h, m, s] = clock.split(':');
    return Math.round((Number(h) * 3600 + Number(m) * 60 + Number(s)) * 1000);
  };
  return blocks.map((block) => {
    const [times, target] = block.trim().split('\n');
    const [from, until] = times.split(' --> ');
    const [url, xywh] = target.split('#xywh=');
    const [x, y, width, height] = xywh ? xywh.split(',').map(Number) : [0, 0, null, null];
    return {start: milliseconds(from), end: milliseconds(until), url: new URL(url, urlOf(origin, file)).href,
      x, y, width, height};
  });
}

// What a player must answer for each tile: the sheet and rectangle of the
// picture chosen for it, at the tile's first, middle and last millisecond.
function expectations(origin, r, problems) {
  const cues = readVtt(origin, path.join(media, r.folder, 'thumbnails.vtt'));
  const tiles = Math.ceil(lengthMs / r.tileMs);
  if (cues.length !== tiles) problems.push(`${r.name}: ${cues.length} cues for ${tiles} tiles`);
  const times = [];
  const expected = [];
  for (let i = 0; i < Math.min(tiles, cues.length); ++i) {
    const start = Math.round(i * r.tileMs);
    const end = Math.min(Math.round((i + 1) * r.tileMs), lengthMs);
    const cue = cues[i];
    if (cue.start < start || cue.start >= end) {
      problems.push(`${r.name}: picture ${i + 1} at ${cue.start} ms is not in its tile, ${start} to ${end} ms`);
    }
    const tile = {url: cue.url, x: cue.x, y: cue.y, width: cue.width ?? r.tile[0], height: cue.height ?? r.tile[1]};
    for (const ms of [start, Math.floor((start + end) / 2), end - 1]) {
      times.push(ms / 1000);
      expected.push(tile);
    }
  }
  return {times, expected};
}

const types = {'.html': 'text/html', '.js': 'text/javascript', '.json': 'application/json',
  '.mpd': 'application/dash+xml', '.m3u8': 'application/vnd.apple.mpegurl', '.m4s': 'video/mp4',
  '.mp4': 'video/mp4', '.jpg': 'image/jpeg', '.vtt': 'text/vtt'};

// Serves the page, the players, the checks (as `checks()` gives them once
// asked) and media/ on 127.0.0.1; `answered` resolves with what the page posts.
function serve(checks) {
  const routes = {
    '/page.html': path.join(here, 'page.html'),
    '/page.js': path.join(here, 'page.js'),
    '/lib/shaka-player.js': path.join(modules, 'shaka-player', 'dist', 'shaka-player.compiled.js'),
    '/lib/dash.js': path.join(modules, 'dashjs', 'dist', 'modern', 'umd', 'dash.all.min.js'),
  };
  let answer;
  const answered = new Promise((resolve) => { answer = resolve; });
  const server = http.createServer((request, response) => {
    const route = decodeURIComponent(new URL(request.url, 'http://127.0.0.1').pathname);
    if (request.method === 'POST' && route === '/result') {
      let body = '';
      request.on('data', (chunk) => { body += chunk; });
      request.on('end', () => { response.end(); answer(JSON.parse(body)); });
      return;
    }
    if (route === '/checks.json') {
      response.writeHead(200, {'content-type': types['.json']});
      response.end(JSON.stringify(checks().map(({player, format, manifest, times}) => ({player, format, manifest, times}))));
      return;
    }
    const file = routes[route] ?? path.join(media, route);
    fs.readFile(file, (error, data) => {
      if (error) {
        response.writeHead(404);
        response.end();
        return;
      }
      response.writeHead(200, {'content-type': types[path.extname(file)] ?? 'application/octet-stream'});
      response.end(data);
    });
  });
  return {server, answered};
}

// Chromium, headless, in a process group of its own (its launcher is a
// script), on a fresh profile.
function openPage(url) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'vantor-players-'));
  const browser = spawn('/usr/bin/chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic',
    '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync',
    `--user-data-dir=${profile}`, url], {stdio: 'ignore', detached: true});
  const exited = new Promise((resolve) => browser.on('exit', resolve));
  return async () => {
    try { process.kill(-browser.pid, 'SIGTERM'); } catch { /* gone already */ }
    await exited;
    fs.rmSync(profile, {recursive: true, force: true});
  };
}

function same(answer, tile) {
  return answer && answer.url === tile.url && answer.x === tile.x && answer.y === tile.y &&
    answer.width === tile.width && answer.height === tile.height;
}

// The largest sheet in bits over the time it covers, from the files.
function bandwidthOf(r) {
  const folder = path.join(media, r.folder, 'sheet files');
  const sheetMs = r.tileMs * r.columns * r.rows;
  let largest = {bytes: -1, ms: 1};
  fs.readdirSync(folder).sort().forEach((name, k) => {
    const bytes = fs.statSync(path.join(folder, name)).size;
    if (bytes > largest.bytes) largest = {bytes, ms: Math.min((k + 1) * sheetMs, lengthMs) - k * sheetMs};
  });
  return Math.ceil(largest.bytes * 8 * 1000 / largest.ms);
}

// What is wrong with one player's answers for one manifest.
function judge(check, result) {
  if (!result || result.error) return [`the player failed: ${result ? result.error : 'no answer'}`];
  const problems = [];
  const r = check.run;
  if (check.player === 'shaka') {
    // shaka divides a DASH sheet by its layout; of an HLS track it knows
    // the whole sheet (RESOLUTION times LAYOUT) and no layout yet.
    const hls = check.format === 'HLS';
    const want = {width: r.tile[0] * (hls ? r.columns : 1), height: r.tile[1] * (hls ? r.rows : 1),
      layout: hls ? null : `${r.columns}x${r.rows}`, bandwidth: bandwidthOf(r)};
    if (result.tracks.length !== 1 || JSON.stringify(result.tracks[0]) !== JSON.stringify(want)) {
      problems.push(`image tracks ${JSON.stringify(result.tracks)}, expected one of ${JSON.stringify(want)}`);
    }
    if (result.variants !== 1) problems.push(`${result.variants} variants, expected the video's one`);
  }
  // Debian's ffmpeg 5.1 writes HLS segments that Chromium's MSE refuses to
  // append, with or without the thumbnail track (as checked by hand): of
  // HLS, the variant above is what the copied master must keep.
  if (check.format === 'DASH' && !result.plays) {
    problems.push('the video does not play: none of its segments was buffered');
  }
  check.times.forEach((time, k) => {
    if (!same(result.answers[k], check.expected[k])) {
      problems.push(`at ${time} s: ${JSON.stringify(result.answers[k])}, expected ${JSON.stringify(check.expected[k])}`);
    }
  });
  return problems;
}

async function main() {
  const video = makeVideo();
  for (const r of runs) addThumbnails(video, r);
  const checks = [];
  const {server, answered} = serve(() => checks);
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const origin = `http://127.0.0.1:${server.address().port}`;

  const problems = [];
  for (const r of runs) {
    const {times, expected} = expectations(origin, r, problems);
    const dash = urlOf(origin, path.join(media, r.folder, 'with video', 'video.mpd'));
    const hls = urlOf(origin, path.join(media, 'hls', r.master.replace('.m3u8', '-thumbs.m3u8')));
    for (const [player, format, manifest] of [['shaka', 'DASH', dash], ['dashjs', 'DASH', dash], ['shaka', 'HLS', hls]]) {
      checks.push({name: `${player} ${format} (${r.name})`, player, format, manifest, times, expected, run: r});
    }
  }

  const close = openPage(`${origin}/page.html`);
  const timeout = new Promise((resolve) => setTimeout(() => resolve({error: 'no answer within 120 s'}), 120000));
  const answer = await Promise.race([answered, timeout]);
  await close();
  server.close();

  let passed = 0;
  let failed = 0;
  for (const [k, check] of checks.entries()) {
    const found = answer.error ? [answer.error] : judge(check, answer.results[k]);
    if (found.length === 0) {
      ++passed;
      console.log(`ok: ${check.name}: ${check.times.length} times`);
    } else {
      ++failed;
      console.log(`FAILED: ${check.name}:\n  ${found.slice(0, 8).join('\n  ')}`);
    }
  }
  for (const problem of problems) console.log(`FAILED: ${problem}`);
  failed += problems.length;
  console.log(`players: ${((Date.now() - started) / 1000).toFixed(1)} s`);
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

main().catch((error) => {
  console.log(`FAILED: ${error.stack || error}`);
  process.exit(1);
});
