// Loads each manifest of /checks.json in its player, asks it for the
// thumbnail at each of the given times and posts every answer, as it is, to
// /result. The test's driver judges them.
'use strict';

// The video element of one player, gone with it.
function freshVideo() {
  const video = document.createElement('video');
  video.muted = true;
  document.body.appendChild(video);
  return video;
}

// Whether the video's own segments arrive: the manifest plays, not only
// its thumbnails.
function buffers(video, seconds) {
  return new Promise((resolve) => {
    const started = Date.now();
    const look = () => {
      if (video.buffered.length > 0 && video.buffered.end(0) > 0) return resolve(true);
      if (Date.now() - started > seconds * 1000) return resolve(false);
      setTimeout(look, 50);
    };
    look();
  });
}

async function askShaka(check) {
  const video = freshVideo();
  const player = new shaka.Player();
  await player.attach(video);
  try {
    await player.load(check.manifest);
    const tracks = player.getImageTracks();
    const answers = [];
    for (const time of check.times) {
      const thumb = tracks.length ? await player.getThumbnails(tracks[0].id, time) : null;
      answers.push(thumb && {url: thumb.uris[0], x: thumb.positionX, y: thumb.positionY,
                             width: thumb.width, height: thumb.height});
    }
    return {
      tracks: tracks.map((t) => ({width: t.width, height: t.height, layout: t.tilesLayout,
                                  bandwidth: t.bandwidth})),
      variants: player.getVariantTracks().length,
      plays: check.format === 'DASH' && await buffers(video, 10),
      answers,
    };
  } finally {
    await player.destroy();
    video.remove();
  }
}

async function askDashjs(check) {
  const video = freshVideo();
  const player = dashjs.MediaPlayer().create();
  player.updateSettings({debug: {logLevel: dashjs.Debug.LOG_LEVEL_WARNING}});
  try {
    const ready = new Promise((resolve, reject) => {
      player.on(dashjs.MediaPlayer.events.STREAM_INITIALIZED, resolve);
      player.on(dashjs.MediaPlayer.events.ERROR, (e) => reject(new Error(JSON.stringify(e.error))));
    });
    player.initialize(video, check.manifest, false);
    await ready;
    const answers = [];
    for (const time of check.times) {
      answers.push(await new Promise((resolve) => {
        player.provideThumbnail(time, (thumb) => resolve(thumb && {
          url: thumb.url, x: thumb.x, y: thumb.y, width: thumb.width, height: thumb.height}));
      }));
    }
    return {plays: await buffers(video, 10), answers};
  } finally {
    player.reset();
    video.remove();
  }
}

async function post(body) {
  await fetch('/result', {method: 'POST', body: JSON.stringify(body)});
}

window.addEventListener('error', (e) => post({error: String(e.message)}));
window.addEventListener('unhandledrejection', (e) => post({error: String(e.reason)}));

(async () => {
  shaka.polyfill.installAll();
  const checks = await (await fetch('/checks.json')).json();
  const results = [];
  for (const check of checks) {
    try {
      results.push(await (check.player === 'shaka' ? askShaka(check) : askDashjs(check)));
    } catch (e) {
      results.push({error: String(e && (e.message || e.code || e))});
    }
  }
  await post({results});
})();
