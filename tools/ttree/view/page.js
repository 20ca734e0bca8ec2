// The page of `ttree view`: shows the points of a scan session in 3-D (three.js, WebGL)
// beside the session's tree.
//
// Data (written by the ttree program into this file):
//  - #tt-session: JSON with the nodes of the shown subtree in pre-order (the first is the
//    shown node), and the clouds: [node, isModel, firstPoint, pointCount] runs of the
//    point arrays, one per scan and one per inner node's model;
//  - #tt-positions, #tt-normals, #tt-colors, #tt-qualities: base64 of float32 x 3,
//    int8 x 3 (normal times 127), uint8 x 3 and uint16 (quality times 65535) per point.
//    Positions are in the session frame, in millimetres.
//
// Each cloud becomes one THREE.Points with its own small shader material, so that showing,
// hiding, tinting and highlighting a scan only changes that object's uniforms.
//
// The URL fragment sets the starting state, and follows what the user changes, so that a
// link opens the view as it was: #hide=ID,ID&select=ID&color=cluster&models=DEPTH (IDs as
// `ttree tree` shows them, braces optional).
//
// For tests and scripts the page reports its state in <pre id="status"> (hidden), one
// key=value a line: status (loading, ready or error), errors, scans, rows, points, ...;
// body[data-ready] is set once the first frame is drawn.
(function () {
    "use strict";

    // --- Status -------------------------------------------------------------------------

    const status = { status: "loading" };

    // Writes the status element: the keys in insertion order, then the errors.
    function showStatus() {
        const errors = window.ttErrors || [];
        const lines = [];
        for (const key of Object.keys(status)) {
            lines.push(key + "=" + status[key]);
        }
        lines.push("errors=" + errors.length);
        for (const error of errors) {
            lines.push("error: " + error);
        }
        document.getElementById("status").textContent = lines.join("\n");
    }
    window.ttShowStatus = showStatus;

    function fail(message) {
        (window.ttErrors = window.ttErrors || []).push(message);
        status.status = "error";
        showStatus();
        const fault = document.createElement("p");
        fault.className = "fault";
        fault.textContent = message;
        document.getElementById("viewport").appendChild(fault);
    }

    // --- Data ---------------------------------------------------------------------------

    // The bytes of a base64 text, decoded a slice at a time so that no second copy of a
    // large text is made.
    function decodeBase64(text) {
        text = text.trim();
        const padding = text.endsWith("==") ? 2 : text.endsWith("=") ? 1 : 0;
        const bytes = new Uint8Array((text.length / 4) * 3 - padding);
        const slice = 1 << 22; // characters, a multiple of 4
        let at = 0;
        for (let start = 0; start < text.length; start += slice) {
            const binary = atob(text.substring(start, start + slice));
            for (let i = 0; i < binary.length; ++i) {
                bytes[at++] = binary.charCodeAt(i);
            }
        }
        return bytes;
    }

    // The typed array of one data element.
    function readArray(id, Type) {
        const bytes = decodeBase64(document.getElementById(id).textContent);
        return new Type(bytes.buffer, 0, bytes.byteLength / Type.BYTES_PER_ELEMENT);
    }

    // --- Colours ------------------------------------------------------------------------

    // Well separated hues for the n-th scan or cluster (golden-angle steps).
    function paletteColor(n) {
        const color = new THREE.Color();
        color.setHSL((n * 0.618033988749895) % 1, 0.65, 0.58);
        return color;
    }

    // A perceptual ramp from dark blue over green to yellow, t in [0, 1] (depth).
    const RAMP = [[0.267, 0.005, 0.329], [0.229, 0.322, 0.546], [0.128, 0.567, 0.551],
                  [0.369, 0.789, 0.383], [0.993, 0.906, 0.144]];
    function rampColor(t) {
        t = Math.min(1, Math.max(0, t)) * (RAMP.length - 1);
        const i = Math.min(RAMP.length - 2, Math.floor(t));
        const f = t - i;
        const a = RAMP[i];
        const b = RAMP[i + 1];
        return new THREE.Color(a[0] + (b[0] - a[0]) * f, a[1] + (b[1] - a[1]) * f,
                               a[2] + (b[2] - a[2]) * f);
    }

    const HIGHLIGHT = new THREE.Color(1.0, 0.85, 0.1);
    const GREY = new THREE.Color(0.62, 0.64, 0.68);

    // --- Shader -------------------------------------------------------------------------

    // Round splats whose size is given in millimetres, so that they cover the surface at
    // any zoom; lit by a head light on both faces, from the surfel's normal.
    const VERTEX_SHADER = `
        attribute vec3 surfelColor;
        attribute float quality;
        uniform vec3 tint;
        uniform float mode;          // 0: tint, 1: quality ramp, 2: the surfels' colours
        uniform float highlight;     // 0 or 1
        uniform float pointSize;     // splat diameter in mm
        uniform float pixelsPerUnit; // viewport height / (2 tan(fov / 2))
        uniform float lift;          // mm towards the viewer for highlighted points
        varying vec3 vColor;
        varying float vLight;

        vec3 qualityRamp(float q) {  // red (poor) over yellow to green (good)
            return q < 0.5 ? mix(vec3(0.85, 0.15, 0.1), vec3(0.95, 0.85, 0.15), q * 2.0)
                           : mix(vec3(0.95, 0.85, 0.15), vec3(0.15, 0.7, 0.25), q * 2.0 - 1.0);
        }

        void main() {
            vec4 viewPosition = modelViewMatrix * vec4(position, 1.0);
            // Scans overlap: a highlighted scan is drawn a little nearer, so that it wins
            // over the other scans of the same surface but not over surfaces before it.
            viewPosition.z += highlight * lift;
            vec3 n = normalize(normalMatrix * normal);
            vec3 toEye = normalize(-viewPosition.xyz);
            float facing = abs(dot(n, toEye));
            vLight = 0.3 + 0.6 * facing + 0.25 * pow(facing, 24.0);
            vec3 base = mode < 0.5 ? tint : (mode < 1.5 ? qualityRamp(quality) : surfelColor);
            vColor = mix(base, vec3(1.0, 0.85, 0.1), highlight * 0.65);
            gl_Position = projectionMatrix * viewPosition;
            gl_PointSize = max(1.5, pointSize * pixelsPerUnit / -viewPosition.z);
        }`;

    const FRAGMENT_SHADER = `
        varying vec3 vColor;
        varying float vLight;
        void main() {
            vec2 d = gl_PointCoord - vec2(0.5);
            if (dot(d, d) > 0.25) {
                discard;
            }
            gl_FragColor = vec4(min(vColor * vLight, vec3(1.0)), 1.0);
        }`;

    // --- The page -----------------------------------------------------------------------

    const session = JSON.parse(document.getElementById("tt-session").textContent);
    const nodes = session.nodes;
    const state = {
        visible: nodes.map(() => true), // the node's own checkbox
        selected: -1,                   // node index
        hovered: -1,                    // node index
        colorMode: "scan",
        showModels: false,
        modelDepth: 0,
        pointScale: 1,
    };
    const rows = [];   // per node: its row element
    const clouds = []; // per cloud: {node, model, points (THREE.Points), material}

    let renderer = null;
    let scene = null;
    let camera = null;
    let controls = null;
    let bounds = null; // THREE.Sphere around every point
    let framePending = false;
    let frames = 0;

    function formatCount(n) {
        return n.toLocaleString("en-US");
    }

    function nodeName(node) {
        return node.description || node.kind;
    }

    // IDs compare without braces and case.
    function bareId(id) {
        return String(id).trim().replace(/^\{/, "").replace(/\}$/, "").toLowerCase();
    }

    const indexById = new Map();
    nodes.forEach((node, i) => indexById.set(bareId(node.id), i));

    // The scans' ordinals (for colouring by scan), in the order of the tree.
    const scanOrdinal = new Map();
    nodes.forEach((node, i) => {
        if (node.kind === "scan") {
            scanOrdinal.set(i, scanOrdinal.size);
        }
    });
    const clusterOrdinal = new Map();
    nodes.forEach((node) => {
        if (node.cluster >= 0 && !clusterOrdinal.has(node.cluster)) {
            clusterOrdinal.set(node.cluster, clusterOrdinal.size);
        }
    });
    const depths = nodes.map((node) => node.depth);
    const minDepth = Math.min(...depths);
    const maxDepth = Math.max(...depths);

    // The tint of a node in the colour modes that colour whole clouds.
    function tintOf(index) {
        const node = nodes[index];
        switch (state.colorMode) {
            case "scan":
                return scanOrdinal.has(index) ? paletteColor(scanOrdinal.get(index))
                                              : paletteColor(index + 7);
            case "cluster":
                return node.cluster >= 0 ? paletteColor(clusterOrdinal.get(node.cluster)) : GREY;
            case "depth":
                return rampColor(maxDepth > minDepth ? (node.depth - minDepth) / (maxDepth - minDepth)
                                                     : 0);
            default:
                return null;
        }
    }

    // --- Tree panel ---------------------------------------------------------------------

    function describe(node) {
        const facts = [];
        if (node.sequence !== null) {
            facts.push("#" + node.sequence);
        }
        if (node.kind === "scan") {
            facts.push(formatCount(node.surfels) + " surfels");
        } else {
            facts.push(node.children.length + (node.children.length === 1 ? " child" : " children"));
        }
        if (node.keyframe) {
            facts.push("keyframe");
        }
        return facts.join(", ");
    }

    function buildTree() {
        const list = document.getElementById("tree");
        const build = (index, parentList) => {
            const node = nodes[index];
            const item = document.createElement("li");
            item.className = "node kind-" + node.kind;
            item.dataset.index = index;
            item.dataset.id = node.id;
            const row = document.createElement("div");
            row.className = "row";
            row.title = node.id;
            const twisty = document.createElement("span");
            twisty.className = "twisty";
            twisty.textContent = node.children.length ? "\u25be" : "";
            const box = document.createElement("input");
            box.type = "checkbox";
            box.checked = true;
            box.title = "Show or hide this subtree";
            const swatch = document.createElement("span");
            swatch.className = "swatch";
            const name = document.createElement("span");
            name.className = "name";
            name.textContent = nodeName(node);
            const kind = document.createElement("span");
            kind.className = "kind";
            kind.textContent = node.kind;
            const facts = document.createElement("span");
            facts.className = "facts";
            facts.textContent = describe(node);
            row.append(twisty, box, swatch, name, kind, facts);
            item.appendChild(row);
            parentList.appendChild(item);
            rows[index] = row;

            twisty.addEventListener("click", (event) => {
                event.stopPropagation();
                item.classList.toggle("collapsed");
                twisty.textContent = item.classList.contains("collapsed") ? "\u25b8" : "\u25be";
            });
            box.addEventListener("click", (event) => event.stopPropagation());
            box.addEventListener("change", () => {
                state.visible[index] = box.checked;
                update();
            });
            row.addEventListener("click", () => select(index, false));
            row.addEventListener("mouseenter", () => hover(index));
            row.addEventListener("mouseleave", () => hover(-1));

            if (node.children.length) {
                const children = document.createElement("ul");
                item.appendChild(children);
                for (const child of node.children) {
                    build(child, children);
                }
                // Scans' parents start folded below the second level, to keep long
                // sessions readable.
                if (node.depth - minDepth >= 2) {
                    item.classList.add("collapsed");
                    twisty.textContent = "\u25b8";
                }
            }
        };
        build(0, list);
    }

    function setCollapsed(item, collapsed) {
        if (!item.querySelector(":scope > ul")) {
            return;
        }
        item.classList.toggle("collapsed", collapsed);
        item.querySelector(":scope > .row > .twisty").textContent = collapsed ? "\u25b8" : "\u25be";
    }

    // Unfolds the ancestors of a node so that its row can be seen.
    function reveal(index) {
        for (let i = nodes[index].parent; i >= 0; i = nodes[i].parent) {
            setCollapsed(rows[i].parentElement, false);
        }
        rows[index].scrollIntoView({ block: "nearest" });
    }

    // --- Selection and highlight ---------------------------------------------------------

    function isInSubtree(index, root) {
        for (let i = index; i >= 0; i = nodes[i].parent) {
            if (i === root) {
                return true;
            }
        }
        return false;
    }

    function select(index, fromView) {
        if (state.selected >= 0) {
            rows[state.selected].classList.remove("selected");
        }
        state.selected = index;
        const info = document.getElementById("selection");
        if (index >= 0) {
            const node = nodes[index];
            rows[index].classList.add("selected");
            if (fromView) {
                reveal(index);
            }
            info.textContent = nodeName(node) + " (" + node.kind + "): " + describe(node) + "\n" +
                               node.id;
        } else {
            info.textContent = "Click a point or a scan to select it.";
        }
        updateHighlight();
        writeFragment();
    }

    function hover(index) {
        state.hovered = index;
        updateHighlight();
    }

    function updateHighlight() {
        for (const cloud of clouds) {
            const on = (state.hovered >= 0 && isInSubtree(cloud.node, state.hovered)) ||
                       (state.selected >= 0 && isInSubtree(cloud.node, state.selected));
            cloud.material.uniforms.highlight.value = on ? 1 : 0;
        }
        requestFrame();
    }

    // --- Visibility, colours ------------------------------------------------------------

    // Shows each cloud whose node and ancestors are checked; with the models shown, an
    // inner node at the chosen depth that has a model draws it instead of its scans.
    function updateVisibility() {
        for (const cloud of clouds) {
            cloud.points.visible = false;
        }
        let visiblePoints = 0;
        let visibleClouds = 0;
        const show = (cloudIndex, on) => {
            if (cloudIndex >= 0 && on) {
                clouds[cloudIndex].points.visible = true;
                visiblePoints += session.clouds[cloudIndex][3];
                ++visibleClouds;
            }
        };
        const walk = (index, parentOn, modelShown) => {
            const node = nodes[index];
            const on = parentOn && state.visible[index];
            rows[index].classList.toggle("off", !on);
            if (node.kind === "scan") {
                show(node.scanCloud, on && !modelShown);
                return;
            }
            let shown = modelShown;
            if (!shown && state.showModels && node.modelCloud >= 0 && node.depth === state.modelDepth) {
                show(node.modelCloud, on);
                shown = true;
            }
            for (const child of node.children) {
                walk(child, on, shown);
            }
        };
        walk(0, true, false);
        status["visible-clouds"] = visibleClouds;
        status["visible-points"] = visiblePoints;
        status.hidden = nodes.filter((node, i) => !state.visible[i]).map((node) => node.id).join(",");
        showStatus();
    }

    function updateColors() {
        const mode = { quality: 1, own: 2 }[state.colorMode] || 0;
        for (const cloud of clouds) {
            const uniforms = cloud.material.uniforms;
            uniforms.mode.value = mode;
            const tint = tintOf(cloud.node);
            if (tint) {
                uniforms.tint.value.copy(tint);
            }
        }
        nodes.forEach((node, i) => {
            const tint = tintOf(i);
            rows[i].querySelector(".swatch").style.background = tint ? "#" + tint.getHexString()
                                                                      : "transparent";
        });
        updateLegend();
    }

    function updateLegend() {
        const legend = document.getElementById("legend");
        legend.textContent = "";
        const entry = (color, text) => {
            const line = document.createElement("div");
            line.className = "entry";
            const swatch = document.createElement("span");
            swatch.className = "swatch";
            swatch.style.background = "#" + color.getHexString();
            const label = document.createElement("span");
            label.textContent = text;
            line.append(swatch, label);
            legend.appendChild(line);
        };
        if (state.colorMode === "cluster") {
            for (const [nodeIndex, ordinal] of clusterOrdinal) {
                entry(paletteColor(ordinal), nodeName(nodes[nodeIndex]));
            }
            if (nodes.some((node) => node.cluster < 0)) {
                entry(GREY, "no cluster");
            }
        } else if (state.colorMode === "depth") {
            for (let depth = minDepth; depth <= maxDepth; ++depth) {
                entry(rampColor(maxDepth > minDepth ? (depth - minDepth) / (maxDepth - minDepth) : 0),
                      "depth " + depth);
            }
        } else if (state.colorMode === "quality") {
            const title = document.createElement("div");
            title.textContent = "quality 0 to 1";
            const ramp = document.createElement("div");
            ramp.className = "ramp";
            ramp.style.background = "linear-gradient(to right, rgb(217,38,26), rgb(242,217,38), rgb(38,179,64))";
            legend.append(title, ramp);
        }
    }

    function update() {
        updateVisibility();
        writeFragment();
        requestFrame();
    }

    // --- URL fragment -------------------------------------------------------------------

    // Reads #hide=ID,ID&select=ID&color=MODE&models=DEPTH (or the same as a query).
    function readFragment() {
        const text = (location.hash || "").replace(/^#/, "") || (location.search || "").replace(/^\?/, "");
        const params = new URLSearchParams(text);
        const unknown = [];
        const lookUp = (id) => {
            const index = indexById.get(bareId(id));
            if (index === undefined) {
                unknown.push(id);
            }
            return index;
        };
        for (const id of (params.get("hide") || "").split(",").filter((id) => id.trim())) {
            const index = lookUp(id);
            if (index !== undefined) {
                state.visible[index] = false;
                rows[index].querySelector("input").checked = false;
            }
        }
        if (params.get("color") && ["scan", "cluster", "depth", "quality", "own"].includes(params.get("color"))) {
            state.colorMode = params.get("color");
            document.getElementById("color-mode").value = state.colorMode;
        }
        if (params.get("models") !== null && params.get("models") !== "") {
            const depth = Number(params.get("models"));
            const select = document.getElementById("model-depth");
            if ([...select.options].some((option) => Number(option.value) === depth)) {
                state.showModels = true;
                state.modelDepth = depth;
                select.value = String(depth);
                document.getElementById("show-models").checked = true;
            }
        }
        let selected = -1;
        if (params.get("select")) {
            const index = lookUp(params.get("select"));
            selected = index === undefined ? -1 : index;
        }
        status["unknown-ids"] = unknown.join(",");
        return selected;
    }

    // Keeps the fragment in step with the state, so that the address opens this view again.
    function writeFragment() {
        const parts = [];
        const hidden = nodes.filter((node, i) => !state.visible[i]).map((node) => bareId(node.id));
        if (hidden.length) {
            parts.push("hide=" + hidden.join(","));
        }
        if (state.selected >= 0) {
            parts.push("select=" + bareId(nodes[state.selected].id));
        }
        if (state.colorMode !== "scan") {
            parts.push("color=" + state.colorMode);
        }
        if (state.showModels) {
            parts.push("models=" + state.modelDepth);
        }
        const fragment = parts.length ? "#" + parts.join("&") : "";
        if (fragment !== location.hash && history.replaceState) {
            history.replaceState(null, "", location.pathname + location.search + fragment);
        }
    }

    // --- 3-D view -----------------------------------------------------------------------

    function createClouds(positions, normals, colors, qualities) {
        const box = new THREE.Box3();
        session.clouds.forEach(([node, model, first, count]) => {
            const geometry = new THREE.BufferGeometry();
            geometry.setAttribute("position",
                new THREE.BufferAttribute(positions.subarray(3 * first, 3 * (first + count)), 3));
            geometry.setAttribute("normal",
                new THREE.BufferAttribute(normals.subarray(3 * first, 3 * (first + count)), 3, true));
            geometry.setAttribute("surfelColor",
                new THREE.BufferAttribute(colors.subarray(3 * first, 3 * (first + count)), 3, true));
            geometry.setAttribute("quality",
                new THREE.BufferAttribute(qualities.subarray(first, first + count), 1, true));
            geometry.computeBoundingSphere();
            geometry.computeBoundingBox();
            if (count > 0) {
                box.union(geometry.boundingBox);
            }
            const material = new THREE.ShaderMaterial({
                uniforms: {
                    tint: { value: new THREE.Color() },
                    mode: { value: 0 },
                    highlight: { value: 0 },
                    pointSize: { value: 1 },
                    pixelsPerUnit: { value: 1 },
                    lift: { value: 0 },
                },
                vertexShader: VERTEX_SHADER,
                fragmentShader: FRAGMENT_SHADER,
            });
            const points = new THREE.Points(geometry, material);
            points.userData.cloud = clouds.length;
            scene.add(points);
            clouds.push({ node: node, model: model === 1, points: points, material: material });
        });
        bounds = box.isEmpty() ? new THREE.Sphere(new THREE.Vector3(), 10)
                               : box.getBoundingSphere(new THREE.Sphere());
        bounds.radius = Math.max(bounds.radius, 1);
    }

    // Looks at every point from above (+z up), tilted a little, the whole session in view.
    function resetView() {
        const viewport = document.getElementById("viewport");
        const aspect = viewport.clientWidth / Math.max(1, viewport.clientHeight);
        const halfFov = THREE.MathUtils ? THREE.MathUtils.degToRad(camera.fov / 2)
                                        : THREE.Math.degToRad(camera.fov / 2);
        const fit = Math.min(Math.tan(halfFov), Math.tan(halfFov) * aspect);
        const distance = (bounds.radius / fit) * 1.05;
        const direction = new THREE.Vector3(0, -0.45, 1).normalize();
        camera.up.set(0, 0, 1);
        camera.position.copy(bounds.center).addScaledVector(direction, distance);
        camera.near = bounds.radius / 500;
        camera.far = bounds.radius * 100 + distance;
        camera.updateProjectionMatrix();
        controls.target.copy(bounds.center);
        controls.update();
        requestFrame();
    }

    function resize() {
        const viewport = document.getElementById("viewport");
        const width = Math.max(1, viewport.clientWidth);
        const height = Math.max(1, viewport.clientHeight);
        renderer.setSize(width, height);
        camera.aspect = width / height;
        camera.updateProjectionMatrix();
        requestFrame();
    }

    // The scale bar: a round length (1, 2 or 5 times a power of ten mm) 60 to 150 pixels
    // long at the distance of the orbit's centre.
    function updateScaleBar() {
        const distance = camera.position.distanceTo(controls.target);
        const height = renderer.domElement.clientHeight;
        const pixelsPerMm = height / (2 * distance * Math.tan((camera.fov * Math.PI) / 360));
        let length = Math.pow(10, Math.floor(Math.log10(60 / pixelsPerMm)));
        for (const step of [1, 2, 5, 10]) {
            if (length * step * pixelsPerMm >= 60) {
                length *= step;
                break;
            }
        }
        document.getElementById("scale-line").style.width = Math.round(length * pixelsPerMm) + "px";
        const text = length >= 1 ? String(Math.round(length)) : length.toPrecision(1);
        document.getElementById("scale-label").textContent = text + " mm";
        status["scale-mm"] = text;
    }

    function requestFrame() {
        if (!framePending && renderer) {
            framePending = true;
            requestAnimationFrame(drawFrame);
        }
    }

    function drawFrame() {
        framePending = false;
        const pixelsPerUnit = renderer.domElement.height / (2 * Math.tan((camera.fov * Math.PI) / 360));
        // Splats a little wider than the points are apart; models are as sparse as their cell.
        const scanSize = session.spacingMm * 1.6 * state.pointScale;
        const modelSize = Math.max(session.spacingMm, session.modelCellMm) * 1.6 * state.pointScale;
        for (const cloud of clouds) {
            const size = cloud.model ? modelSize : scanSize;
            cloud.material.uniforms.pixelsPerUnit.value = pixelsPerUnit;
            cloud.material.uniforms.pointSize.value = size;
            cloud.material.uniforms.lift.value = size * 2;
        }
        renderer.render(scene, camera);
        updateScaleBar();
        ++frames;
        status.frames = frames;
        if (status.status !== "ready" && status.status !== "error") {
            status.status = "ready";
            document.body.dataset.ready = "1";
        }
        showStatus();
    }

    // Selects the scan (or model's node) of the point nearest the viewer under the cursor.
    function pick(clientX, clientY) {
        const canvas = renderer.domElement;
        const rect = canvas.getBoundingClientRect();
        const pointer = new THREE.Vector2(((clientX - rect.left) / rect.width) * 2 - 1,
                                          -((clientY - rect.top) / rect.height) * 2 + 1);
        const raycaster = new THREE.Raycaster();
        raycaster.setFromCamera(pointer, camera);
        // Hits within about one splat of the ray.
        raycaster.params.Points = { threshold: session.spacingMm * 1.2 * state.pointScale };
        const visible = clouds.filter((cloud) => cloud.points.visible).map((cloud) => cloud.points);
        const hits = raycaster.intersectObjects(visible, false);
        if (hits.length) {
            select(clouds[hits[0].object.userData.cloud].node, true);
        } else {
            select(-1, true);
        }
    }

    function setUpControls() {
        const modelDepths = [...new Set(nodes.filter((node) => node.modelCloud >= 0)
                                             .map((node) => node.depth))].sort((a, b) => a - b);
        const depthSelect = document.getElementById("model-depth");
        for (const depth of modelDepths) {
            const option = document.createElement("option");
            option.value = String(depth);
            option.textContent = String(depth);
            depthSelect.appendChild(option);
        }
        if (!modelDepths.length) {
            document.getElementById("models-control").style.display = "none";
        } else {
            // The level below the shown node when it has models, to show its parts.
            state.modelDepth = modelDepths.includes(minDepth + 1) ? minDepth + 1 : modelDepths[0];
            depthSelect.value = String(state.modelDepth);
        }
        depthSelect.addEventListener("change", () => {
            state.modelDepth = Number(depthSelect.value);
            update();
        });
        document.getElementById("show-models").addEventListener("change", (event) => {
            state.showModels = event.target.checked;
            update();
        });
        document.getElementById("color-mode").addEventListener("change", (event) => {
            state.colorMode = event.target.value;
            updateColors();
            writeFragment();
            requestFrame();
        });
        document.getElementById("point-size").addEventListener("input", (event) => {
            state.pointScale = Number(event.target.value);
            requestFrame();
        });
        document.getElementById("reset-view").addEventListener("click", resetView);
        document.getElementById("show-all").addEventListener("click", () => {
            state.visible.fill(true);
            for (const row of rows) {
                row.querySelector("input").checked = true;
            }
            update();
        });
        document.getElementById("expand-all").addEventListener("click", () => {
            for (const row of rows) {
                setCollapsed(row.parentElement, false);
            }
        });

        // A click that does not move the pointer picks; a drag orbits.
        const canvas = renderer.domElement;
        let down = null;
        canvas.addEventListener("pointerdown", (event) => {
            down = { x: event.clientX, y: event.clientY };
        });
        canvas.addEventListener("pointerup", (event) => {
            if (down && event.button === 0 &&
                Math.hypot(event.clientX - down.x, event.clientY - down.y) < 4) {
                pick(event.clientX, event.clientY);
            }
            down = null;
        });
        window.addEventListener("resize", resize);
        window.addEventListener("hashchange", () => {
            // Links within the page (or a typed address) change the hidden nodes.
            state.visible.fill(true);
            for (const row of rows) {
                row.querySelector("input").checked = true;
            }
            const selected = readFragment();
            updateColors();
            updateVisibility();
            if (selected !== state.selected) {
                select(selected, true);
            }
            requestFrame();
        });
    }

    function summary() {
        const parts = [formatCount(session.scans) + (session.scans === 1 ? " scan" : " scans") +
                       " (" + formatCount(session.scanPoints) + " points)"];
        if (session.modelPoints > 0) {
            parts.push(formatCount(session.modelPoints) + " points in the inner nodes' models");
        }
        if (session.modelCellMm > 0) {
            parts.push("models on " + session.modelCellMm + " mm cells");
        }
        document.getElementById("summary").textContent = parts.join(", ") + "; lengths in mm";
    }

    function start() {
        status.scans = session.scans;
        status.rows = nodes.length;
        status.points = session.points;
        status.subsampled = session.subsampled;
        summary();
        buildTree();

        const positions = readArray("tt-positions", Float32Array);
        const normals = readArray("tt-normals", Int8Array);
        const colors = readArray("tt-colors", Uint8Array);
        const qualities = readArray("tt-qualities", Uint16Array);
        if (positions.length !== 3 * session.points || qualities.length !== session.points) {
            throw new Error("the point data is not complete: " + positions.length / 3 + " positions, " +
                            qualities.length + " qualities for " + session.points + " points");
        }

        const viewport = document.getElementById("viewport");
        try {
            renderer = new THREE.WebGLRenderer({ antialias: true });
        } catch (error) {
            fail("WebGL is not available in this browser: " + error.message);
            return;
        }
        renderer.setPixelRatio(window.devicePixelRatio || 1);
        viewport.insertBefore(renderer.domElement, viewport.firstChild);
        scene = new THREE.Scene();
        scene.background = new THREE.Color(0x1e2632);
        camera = new THREE.PerspectiveCamera(40, 1, 0.1, 1000);
        controls = new THREE.OrbitControls(camera, renderer.domElement);
        controls.screenSpacePanning = true;
        controls.addEventListener("change", requestFrame);

        createClouds(positions, normals, colors, qualities);
        setUpControls();
        const selected = readFragment();
        resize();
        resetView();
        updateColors();
        updateVisibility();
        if (selected >= 0) {
            select(selected, true);
        }
        // The first frame is drawn now, not at the next animation frame: a browser may hold
        // animation frames back (a hidden tab, a headless one that is short of time), and
        // the page counts as ready once its first frame is drawn.
        drawFrame();
    }

    try {
        start();
    } catch (error) {
        fail("the view could not start: " + (error && error.message ? error.message : error));
    }
})();
