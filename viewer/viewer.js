// The page `kmztile view` serves: the build's 3D Tiles (out/3dtiles/) over
// the Natural Earth imagery that ships with CesiumJS, a panel with the
// build's totals (out/tileset.json, the catalog the build writes) and the
// tile boundaries of one level. Everything comes from the local server: no
// token, no terrain, no imagery service.
//
// window.kmztileViewer tells scripts (the browser test) how the page is
// doing: state ('loading', 'ready' or 'error'), error, renderedContents
// (tile contents drawn in the last frame), frames (frames drawn so far),
// boundaries (tile outlines drawn), cityBox() (the city's box on screen) and
// showCity(bool).
'use strict';

const page = {
  state: 'loading',
  error: null,
  renderedContents: 0,
  frames: 0,
  boundaries: 0,
};
window.kmztileViewer = page;

function setStatus(text, isError) {
  const status = document.getElementById('status');
  status.textContent = text;
  status.classList.toggle('error', !!isError);
}

function fail(message) {
  page.state = 'error';
  page.error = message;
  setStatus(message, true);
}

// "512 B", "3.4 KiB", "12.0 MiB", as the command's summary prints sizes.
function formatBytes(bytes) {
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit + 1 < units.length) {
    value /= 1024;
    unit += 1;
  }
  if (unit === 0) return `${bytes} B`;
  return `${value.toFixed(value < 10 && unit >= 3 ? 2 : 1)} ${units[unit]}`;
}

function element(tag, text) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = String(text);
  return e;
}

// Where the models stand: the finest level's tiles (their bounds as the build
// computed them) enclose them far more tightly than the level-15 tiles the
// 3D tileset's root spans, which matters for a city of a few buildings. Null
// when the catalog lists no tiles (a large build lists them in parts).
function citySphere(catalog) {
  const tiles = (catalog && Array.isArray(catalog.tiles)) ? catalog.tiles.filter((t) => t && t.bounds) : [];
  if (tiles.length === 0) return null;
  const finest = Math.max(...tiles.map((t) => t.level));
  let west = 180, south = 90, east = -180, north = -90;
  for (const t of tiles) {
    if (t.level !== finest) continue;
    west = Math.min(west, t.bounds.west);
    south = Math.min(south, t.bounds.south);
    east = Math.max(east, t.bounds.east);
    north = Math.max(north, t.bounds.north);
  }
  if (!(west < east && south < north)) return null;
  return Cesium.BoundingSphere.fromRectangle3D(Cesium.Rectangle.fromDegrees(west, south, east, north));
}

// The build's totals from the catalog; a build without one shows the 3D
// Tiles alone.
async function showCatalog() {
  const build = document.getElementById('build');
  const response = await fetch('out/tileset.json');
  if (!response.ok) {
    build.append(element('dt', 'Catalog'), element('dd', 'none in this output folder'));
    return null;
  }
  const catalog = await response.json();
  const settings = catalog.settings || {};
  const levels = catalog.levels || [];
  const rows = [
    ['Models', settings.models],
    ['Levels', (settings.levels || []).join(', ')],
    ['CRS', settings.crs || 'from the models'],
    ['Source', settings.source],
    ['Built by', settings.generator],
  ];
  for (const [name, value] of rows)
    if (value !== undefined && value !== '') build.append(element('dt', name), element('dd', value));

  const body = document.querySelector('#levels tbody');
  let tiles = 0;
  let bytes = 0;
  for (const level of levels) {
    const row = element('tr');
    row.append(element('td', level.level), element('td', level.tiles), element('td', level.models),
      element('td', formatBytes(level.bytes)));
    body.append(row);
    tiles += level.tiles;
    bytes += level.bytes;
  }
  const foot = element('tfoot');
  const total = element('tr');
  total.append(element('td', 'all'), element('td', tiles), element('td', ''), element('td', formatBytes(bytes)));
  foot.append(total);
  document.getElementById('levels').append(foot);
  return catalog;
}

// Every tile with content in the 3D Tiles tree, by level: the tileset files
// are walked (external tilesets fetched) and each content's level read from
// its path below 3dtiles/ ("LEVEL/ROW/COLUMN.glb").
async function regionsByLevel(rootUrl) {
  const byLevel = new Map();
  const base = new URL(rootUrl, document.baseURI);
  async function walk(tile, fileUrl) {
    const uri = tile.content && (tile.content.uri || tile.content.url);
    if (uri) {
      const url = new URL(uri, fileUrl);
      if (url.pathname.endsWith('.json')) {
        const response = await fetch(url);
        if (!response.ok) throw new Error(`${url.pathname}: ${response.status}`);
        await walk((await response.json()).root, url);
      } else if (tile.boundingVolume && tile.boundingVolume.region) {
        const below = url.pathname.slice(new URL('.', base).pathname.length);
        const level = Number(below.split('/')[0]);
        if (!byLevel.has(level)) byLevel.set(level, []);
        byLevel.get(level).push(tile.boundingVolume.region);
      }
    }
    for (const child of tile.children || []) await walk(child, fileUrl);
  }
  const response = await fetch(base);
  await walk((await response.json()).root, base);
  return byLevel;
}

// The select that draws the boundaries of one level's tiles as outlines a
// little above the ground.
function setUpBoundaries(viewer, levels) {
  const select = document.getElementById('boundaries');
  for (const level of levels) {
    const option = element('option', `level ${level}`);
    option.value = String(level);
    select.append(option);
  }
  let regions = null;
  let drawn = null;
  select.addEventListener('change', async () => {
    if (drawn) {
      viewer.scene.primitives.remove(drawn);
      drawn = null;
    }
    if (select.value !== '') {
      try {
        regions = regions || await regionsByLevel('out/3dtiles/tileset.json');
      } catch (e) {
        fail(`Cannot read the tile boundaries: ${e.message}`);
        return;
      }
      drawn = new Cesium.PolylineCollection();
      const material = Cesium.Material.fromType('Color', { color: Cesium.Color.YELLOW });
      for (const [w, s, e, n] of regions.get(Number(select.value)) || []) {
        const h = 2.0;
        drawn.add({
          positions: Cesium.Cartesian3.fromRadiansArrayHeights([w, s, h, e, s, h, e, n, h, w, n, h, w, s, h]),
          width: 2,
          material,
        });
      }
      viewer.scene.primitives.add(drawn);
    }
    page.boundaries = drawn ? drawn.length : 0;
    viewer.scene.requestRender();
  });
}

// The screen box of a region's eight corners, in CSS pixels of the canvas.
function screenBox(scene, region) {
  const [w, s, e, n, low, high] = region;
  const xs = [];
  const ys = [];
  for (const lon of [w, e])
    for (const lat of [s, n])
      for (const h of [low, high]) {
        const p = Cesium.SceneTransforms.worldToWindowCoordinates(scene, Cesium.Cartesian3.fromRadians(lon, lat, h));
        if (p) {
          xs.push(p.x);
          ys.push(p.y);
        }
      }
  if (xs.length === 0) return null;
  return { left: Math.min(...xs), top: Math.min(...ys), right: Math.max(...xs), bottom: Math.max(...ys) };
}

// True when WebGL draws in software (SwiftShader, llvmpipe): a machine
// without a GPU, where every pixel costs CPU time.
function softwareRendering() {
  const gl = document.createElement('canvas').getContext('webgl2') ||
    document.createElement('canvas').getContext('webgl');
  const info = gl && gl.getExtension('WEBGL_debug_renderer_info');
  const renderer = info ? String(gl.getParameter(info.UNMASKED_RENDERER_WEBGL)) : '';
  return /swiftshader|llvmpipe|softpipe|software/i.test(renderer);
}

// Resolves once a frame drew tile contents with every tile its view needs
// loaded.
function untilAllTilesLoaded(viewer, tileset) {
  return new Promise((resolve) => {
    const remove = viewer.scene.postRender.addEventListener(() => {
      if (!tileset.tilesLoaded || page.renderedContents === 0) return;
      remove();
      resolve();
    });
    viewer.scene.requestRender();
  });
}

async function main() {
  // Nothing may reach for Cesium's online services.
  Cesium.Ion.defaultAccessToken = '';
  // Without a GPU every pixel costs CPU time: no multisampling, no
  // translucency passes, no screen-space smoothing, no atmosphere.
  const software = softwareRendering();
  const viewer = new Cesium.Viewer('scene', {
    baseLayer: Cesium.ImageryLayer.fromProviderAsync(
      Cesium.TileMapServiceImageryProvider.fromUrl(Cesium.buildModuleUrl('Assets/Textures/NaturalEarthII'), {
        maximumLevel: 2,
      })),
    terrainProvider: new Cesium.EllipsoidTerrainProvider(),
    baseLayerPicker: false,
    geocoder: false,
    homeButton: false,
    sceneModePicker: false,
    navigationHelpButton: false,
    animation: false,
    timeline: false,
    fullscreenButton: false,
    infoBox: false,
    selectionIndicator: false,
    msaaSamples: software ? 1 : 4,
    orderIndependentTranslucency: !software,
    // Frames only when something changes: a still city costs no CPU.
    requestRenderMode: true,
    maximumRenderTimeChange: Infinity,
  });
  // What a view from above never shows.
  const scene = viewer.scene;
  scene.skyBox.show = false;
  scene.sun.show = false;
  scene.moon.show = false;
  scene.skyAtmosphere.show = false;
  scene.globe.depthTestAgainstTerrain = true;
  if (software) {
    scene.postProcessStages.fxaa.enabled = false;
    scene.globe.showGroundAtmosphere = false;
    scene.fog.enabled = false;
  }

  const catalog = await showCatalog();

  const tileset = await Cesium.Cesium3DTileset.fromUrl('out/3dtiles/tileset.json');
  viewer.scene.primitives.add(tileset);
  let drawnThisFrame = 0;
  tileset.tileVisible.addEventListener(() => {
    drawnThisFrame += 1;
  });
  viewer.scene.postRender.addEventListener(() => {
    page.renderedContents = drawnThisFrame;
    drawnThisFrame = 0;
    page.frames += 1;
  });
  page.showCity = (show) => {
    tileset.show = show;
    viewer.scene.requestRender();
  };
  const tilesetJson = await (await fetch('out/3dtiles/tileset.json')).json();
  page.cityBox = () => screenBox(viewer.scene, tilesetJson.root.boundingVolume.region);

  const levels = catalog && catalog.levels ? catalog.levels.map((l) => l.level) : [15, 16, 17, 18];
  setUpBoundaries(viewer, levels);

  // The sun at the city's local noon in June, whatever the time here: the
  // facades the camera looks at are lit, and every visit looks the same.
  const sphere = citySphere(catalog) || tileset.boundingSphere;
  const centre = Cesium.Cartographic.fromCartesian(sphere.center);
  const noon = Date.UTC(2026, 5, 21, 12) - (Cesium.Math.toDegrees(centre.longitude) / 15) * 3600 * 1000;
  viewer.clock.currentTime = Cesium.JulianDate.fromDate(new Date(noon));
  viewer.clock.shouldAnimate = false;

  // The view centred a little west of the city, so the panel on the left
  // hides none of it.
  setStatus('Flying to the city…');
  const east = Cesium.Matrix4.getColumn(Cesium.Transforms.eastNorthUpToFixedFrame(sphere.center), 0,
    new Cesium.Cartesian4());
  const aim = Cesium.Cartesian3.add(sphere.center,
    Cesium.Cartesian3.multiplyByScalar(new Cesium.Cartesian3(east.x, east.y, east.z), -0.12 * sphere.radius,
      new Cesium.Cartesian3()), new Cesium.Cartesian3());
  await new Promise((resolve) => viewer.camera.flyToBoundingSphere(new Cesium.BoundingSphere(aim, sphere.radius), {
    duration: 1.5,
    offset: new Cesium.HeadingPitchRange(Cesium.Math.toRadians(-15), Cesium.Math.toRadians(-35), sphere.radius * 2.6),
    complete: resolve,
    cancel: resolve,
  }));
  await untilAllTilesLoaded(viewer, tileset);
  page.state = 'ready';
  setStatus(`${page.renderedContents} tile contents drawn`);
  viewer.scene.postRender.addEventListener(() => {
    if (page.state === 'ready') setStatus(`${page.renderedContents} tile contents drawn`);
  });
}

main().catch((e) => fail(`Cannot show the city: ${e.message || e}`));
