// Two independent ONVIF clients from npm (onvif, node-onvif) driving the gateway's cameras for
// the gateway's tests and benchmark. Usage: node onvif_client.js COMMAND JSON-ARGS; prints one
// JSON object on stdout. NODE_PATH points at the test set-up's node_modules.
'use strict';
const { Cam } = require('onvif');
const NodeOnvif = require('node-onvif');

const cmd = process.argv[2];
const a = JSON.parse(process.argv[3] || '{}');
const done = (o) => { process.stdout.write(JSON.stringify(o) + '\n'); process.exit(0); };
const fail = (e) => done({ error: String(e && e.message ? e.message : e) });
const p = (fn) => new Promise((res, rej) => fn((err, v) => (err ? rej(err) : res(v))));
const camOf = () => new Promise((res, rej) => {
  const c = new Cam({ hostname: a.host, port: a.port, username: a.user, password: a.password,
                      timeout: 5000, autoconnect: false });
  c.connect((err) => (err ? rej(err) : res(c)));
});
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

async function main() {
  if (cmd === 'discover') {
    // node-onvif's probe, sent directly to the gateway's discovery port.
    const onvif = NodeOnvif;
    onvif._PORT = a.port;
    onvif._MULTICAST_ADDRESS = a.host;
    const t0 = Date.now();
    const list = await onvif.startProbe();
    done({ ms: Date.now() - t0, xaddrs: list.map((d) => d.xaddrs[0]).sort(),
           names: list.map((d) => d.name).sort() });
  } else if (cmd === 'adopt') {
    const c = await camOf();
    const info = await p((cb) => c.getDeviceInformation(cb));
    const profiles = c.profiles.map((x) => ({ token: x.$.token,
      encoding: x.videoEncoderConfiguration.encoding,
      width: +x.videoEncoderConfiguration.resolution.width }));
    const stream = await p((cb) => c.getStreamUri({ protocol: 'RTSP', profileToken: 'main' }, cb));
    // The second client, as NVR software built on it adopts a camera.
    const dev = new NodeOnvif.OnvifDevice({ xaddr: `http://${a.host}:${a.port}/onvif/device_service`,
                                            user: a.user, pass: a.password });
    await dev.init();
    done({ manufacturer: info.manufacturer, serial: info.serialNumber, profiles,
           stream: stream.uri, stream2: dev.getCurrentProfile().stream.rtsp,
           snapshot: dev.getCurrentProfile().snapshot || '' });
  } else if (cmd === 'move') {
    // ContinuousMove left for a.holdMs, then Stop; a.stop false leaves it to the timeout.
    const dev = new NodeOnvif.OnvifDevice({ xaddr: `http://${a.host}:${a.port}/onvif/device_service`,
                                            user: a.user, pass: a.password });
    await dev.init();
    const sent = Date.now() * 1000;
    await dev.ptzMove({ speed: { x: -1, y: 0, z: 0 }, timeout: a.timeout || 1 });
    await sleep(a.holdMs || 0);
    const stopped = Date.now() * 1000;
    if (a.stop !== false) await dev.ptzStop();
    done({ sent_us: sent, stopped_us: stopped });
  } else if (cmd === 'time') {
    // Round trips: GetProfiles, GetStreamUri (a.count each), or GetStatus every a.everyMs.
    const c = await camOf();
    const times = { profiles: [], stream: [], status: [] };
    for (let i = 0; i < (a.count || 0); ++i) {
      let t = process.hrtime.bigint();
      await p((cb) => c.getProfiles(cb));
      times.profiles.push(Number(process.hrtime.bigint() - t) / 1e6);
      t = process.hrtime.bigint();
      await p((cb) => c.getStreamUri({ protocol: 'RTSP', profileToken: 'main' }, cb));
      times.stream.push(Number(process.hrtime.bigint() - t) / 1e6);
    }
    const end = Date.now() + (a.pollMs || 0);
    while (Date.now() < end) {
      const t = process.hrtime.bigint();
      await p((cb) => c.getStatus({ profileToken: 'main' }, cb));
      times.status.push(Number(process.hrtime.bigint() - t) / 1e6);
      await sleep(a.everyMs || 100);
    }
    done(times);
  } else {
    fail('unknown command ' + cmd);
  }
}
main().catch(fail);
