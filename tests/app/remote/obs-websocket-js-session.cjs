// One session of obs-websocket-js against the studio's obs-websocket endpoint, as button decks
// and automation scripts run it. Usage: node obs-websocket-js-session.cjs URL PASSWORD json|msgpack
// (NODE_PATH names the folder holding obs-websocket-js). Prints each step; exits 1 on the first
// expectation that does not hold.
'use strict';
const assert = require('node:assert/strict');

const [url, password, encoding] = process.argv.slice(2);
const lib = encoding === 'json' ? require('obs-websocket-js/json') : require('obs-websocket-js');
const OBSWebSocket = lib.default;
const { OBSWebSocketError, EventSubscription } = lib;

function step(name) {
  console.log(`step: ${name}`);
}

// The next event of `type`, or a failure after 10 s (a hang guard).
function nextEvent(obs, type) {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`no ${type} event`)), 10000);
    obs.once(type, (data) => {
      clearTimeout(timer);
      resolve(data);
    });
  });
}

async function refused(promise) {
  try {
    await promise;
  } catch (error) {
    return error;
  }
  throw new Error('expected a refusal');
}

async function main() {
  step('a wrong password is refused');
  const stranger = new OBSWebSocket();
  const wrong = await refused(stranger.connect(url, 'not the password'));
  assert.equal(wrong.code, 4009, `close code ${wrong.code}: ${wrong.message}`);
  step('no password is refused');
  const anonymous = await refused(new OBSWebSocket().connect(url));
  assert.equal(anonymous.code, 4009);

  step('the right password identifies');
  const obs = new OBSWebSocket();
  const hello = await obs.connect(url, password, { rpcVersion: 1 });
  assert.equal(hello.negotiatedRpcVersion, 1);
  assert.equal(hello.rpcVersion, 1);
  assert.match(hello.obsWebSocketVersion, /^5\./);

  step("Companion's connect sequence");
  const version = await obs.call('GetVersion');
  assert.equal(version.platform, 'linux');
  assert.deepEqual(version.supportedImageFormats, ['png', 'jpg']);
  assert.ok(version.availableRequests.includes('SetCurrentProgramScene'));
  const stats = await obs.call('GetStats');
  assert.equal(typeof stats.cpuUsage, 'number');
  assert.equal(typeof stats.webSocketSessionIncomingMessages, 'number');
  assert.equal((await obs.call('GetStudioModeEnabled')).studioModeEnabled, false);
  assert.deepEqual((await obs.call('GetHotkeyList')).hotkeys, []);
  assert.deepEqual((await obs.call('GetOutputList')).outputs, []);
  assert.deepEqual((await obs.call('GetMonitorList')).monitors, []);
  const video = await obs.call('GetVideoSettings');
  assert.equal(video.baseWidth, 1920);
  assert.equal(video.fpsNumerator / video.fpsDenominator, 30);
  assert.equal((await obs.call('GetReplayBufferStatus')).outputActive, false);
  assert.ok(Array.isArray((await obs.call('GetInputKindList')).inputKinds));
  assert.deepEqual((await obs.call('GetProfileList')).profiles, []);
  assert.deepEqual((await obs.call('GetSceneCollectionList')).sceneCollections, []);
  assert.deepEqual((await obs.call('GetSceneTransitionList')).transitions, []);
  assert.equal((await obs.call('GetSpecialInputs')).mic1, 'Mic/Aux');
  const inputs = await obs.call('GetInputList');
  assert.deepEqual(inputs.inputs.map((i) => i.inputName), ['Mic/Aux']);

  step('scenes');
  const list = await obs.call('GetSceneList');
  assert.deepEqual(list.scenes.map((s) => s.sceneName),
    ['Intro', 'Close', 'Cam 1 · Desk', 'Cam 2 · Screen', 'Cam 3 · Host', 'Cam 4 · Crane']);
  assert.equal(list.currentProgramSceneName, 'Cam 1 · Desk');
  const toAngle = nextEvent(obs, 'CurrentProgramSceneChanged');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Cam 3 · Host' });
  assert.equal((await toAngle).sceneName, 'Cam 3 · Host');
  const toShot = nextEvent(obs, 'CurrentProgramSceneChanged');
  await obs.call('SetCurrentProgramScene', { sceneName: 'Close' });
  assert.equal((await toShot).sceneName, 'Close');
  assert.equal((await obs.call('GetCurrentProgramScene')).currentProgramSceneName, 'Close');
  const missing = await refused(obs.call('SetCurrentProgramScene', { sceneName: 'Nowhere' }));
  assert.ok(missing instanceof OBSWebSocketError);
  assert.equal(missing.code, 600);

  step('stream');
  const stream = await obs.call('GetStreamStatus');
  assert.equal(stream.outputActive, false);
  assert.equal(stream.outputTimecode, '00:00:00.000');
  const noUrl = await refused(obs.call('StartStream'));
  assert.equal(noUrl.message, 'Enter the server URL');

  step('record');
  assert.equal((await obs.call('GetRecordStatus')).outputActive, false);
  const started = nextEvent(obs, 'RecordStateChanged');
  await obs.call('StartRecord');
  assert.equal((await started).outputState, 'OBS_WEBSOCKET_OUTPUT_STARTED');
  assert.equal((await obs.call('GetRecordStatus')).outputActive, true);
  const stopped = nextEvent(obs, 'RecordStateChanged');
  assert.equal((await obs.call('StopRecord')).outputPath, '/clips/rec.mp4');
  assert.equal((await stopped).outputPath, '/clips/rec.mp4');

  step('microphone');
  const muted = nextEvent(obs, 'InputMuteStateChanged');
  assert.equal((await obs.call('ToggleInputMute', { inputName: 'Mic/Aux' })).inputMuted, true);
  assert.equal((await muted).inputMuted, true);
  await obs.call('SetInputVolume', { inputName: 'Mic/Aux', inputVolumeMul: 0.5 });
  assert.equal((await obs.call('GetInputVolume', { inputName: 'Mic/Aux' })).inputVolumeMul, 0.5);

  step('a batch');
  const results = await obs.callBatch([
    { requestType: 'SetCurrentProgramScene', requestData: { sceneName: 'Cam 2 · Screen' } },
    { requestType: 'GetCurrentProgramScene' },
    { requestType: 'NoSuchRequest' },
    { requestType: 'GetVersion' },
  ], { haltOnFailure: true });
  assert.deepEqual(results.map((r) => r.requestStatus.code), [100, 100, 204]);
  assert.equal(results[1].responseData.currentProgramSceneName, 'Cam 2 · Screen');

  step('a screenshot');
  const shot = await obs.call('GetSourceScreenshot',
    { sourceName: 'Cam 2 · Screen', imageFormat: 'jpg', imageWidth: 160, imageHeight: 90 });
  assert.match(shot.imageData, /^data:image\/jpeg;base64,\/9j\//);

  step('meters for who asks');
  await obs.reidentify({ eventSubscriptions: EventSubscription.All | EventSubscription.InputVolumeMeters });
  const meters = await nextEvent(obs, 'InputVolumeMeters');
  assert.equal(meters.inputs[0].inputName, 'Mic/Aux');

  const unknown = await refused(obs.call('CreateScene', { sceneName: 'x' }));
  assert.equal(unknown.code, 204);
  await obs.disconnect();
  step('done');
}

main().then(() => process.exit(0), (error) => {
  console.error(`failed: ${error.stack || error}`);
  process.exit(1);
});
